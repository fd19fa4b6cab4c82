// Runs inputs through the same entry as the fuzzer, without libFuzzer: each argument is an input
// file or a folder of them. Built in every configuration, so the kept inputs replay under the
// sanitizer builds (AddressSanitizer with UndefinedBehaviorSanitizer, ThreadSanitizer) that a
// fast fuzzing build leaves out. A broken rule traps, as it does under the fuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> InputFiles(const std::vector<std::string>& arguments) {
  std::vector<fs::path> files;
  for (const std::string& argument : arguments) {
    if (fs::is_directory(argument)) {
      std::vector<fs::path> folder;
      for (const auto& entry : fs::directory_iterator(argument)) {
        if (entry.is_regular_file()) folder.push_back(entry.path());
      }
      std::sort(folder.begin(), folder.end());
      files.insert(files.end(), folder.begin(), folder.end());
    } else if (fs::is_regular_file(argument)) {
      files.emplace_back(argument);
    } else {
      std::fprintf(stderr, "protocol_replay: %s is neither a file nor a folder\n", argument.c_str());
      std::exit(2);
    }
  }
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<fs::path> files = InputFiles({argv + 1, argv + argc});
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.good() && !in.eof()) {
      std::fprintf(stderr, "protocol_replay: cannot read %s\n", file.string().c_str());
      return 2;
    }
    // Named first, so a trap's report says which input it came from.
    std::fprintf(stderr, "protocol_replay: %s\n", file.string().c_str());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("protocol_replay: %zu input(s) ran, no rule broken\n", files.size());
  return 0;
}
