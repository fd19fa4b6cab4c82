#include "temp_folder.h"

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace electron_morvane::bench {

TempFolder::TempFolder() {
  // Short, so socket paths inside stay well below the address limit.
  char pattern[] = "/tmp/mvhb-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
  }
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace electron_morvane::bench
