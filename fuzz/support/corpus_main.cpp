// Runs a fuzz target's entry over every file of the given corpus directories (or files), as a
// plain regression test of the normal builds. Exits non-zero when a directory is missing or
// holds no file; a finding aborts the process as it does under libFuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

bool RunFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A copy of its own, so the target reading past the end is caught by the sanitizers.
  std::vector<uint8_t> copy(bytes);
  LLVMFuzzerTestOneInput(copy.empty() ? nullptr : copy.data(), copy.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  size_t files = 0;
  for (int i = 1; i < argc; ++i) {
    // Absolute before the target changes into its own directory.
    const fs::path given = fs::absolute(argv[i]);
    std::vector<fs::path> paths;
    std::error_code ec;
    if (fs::is_directory(given, ec)) {
      for (const auto& entry : fs::directory_iterator(given, ec))
        if (entry.is_regular_file()) paths.push_back(entry.path());
    } else if (fs::is_regular_file(given, ec)) {
      paths.push_back(given);
    }
    std::sort(paths.begin(), paths.end());
    for (const fs::path& path : paths) {
      if (!RunFile(path)) {
        std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
        return 1;
      }
      ++files;
    }
  }
  std::printf("%zu inputs ran\n", files);
  return files > 0 ? 0 : 1;
}
