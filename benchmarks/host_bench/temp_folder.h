// A fresh folder under the temporary folder, removed with its contents on destruction.
#pragma once

#include <string>

namespace electron_morvane::bench {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace electron_morvane::bench
