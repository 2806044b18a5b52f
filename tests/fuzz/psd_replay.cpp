// Runs files (or every file of the folders given) through the same decode
// as the fuzz target, so crashers found by hand keep failing cleanly in CI.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "psd_fuzz_common.h"

namespace fs = std::filesystem;

static int ReplayFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  psd_status s = pw_fuzz::DecodeAllModes(bytes.data(), bytes.size());
  std::printf("%s: %d\n", path.c_str(), s);
  return 1;
}

int main(int argc, char** argv) {
  int files = 0;
  for (int i = 1; i < argc; ++i) {
    fs::path p = argv[i];
    std::error_code ec;
    if (fs::is_directory(p, ec)) {
      std::vector<fs::path> entries;
      for (const auto& e : fs::directory_iterator(p, ec))
        if (e.is_regular_file() && e.path().filename() != "README.md") entries.push_back(e.path());
      std::sort(entries.begin(), entries.end());
      for (const auto& e : entries) files += ReplayFile(e);
    } else if (fs::is_regular_file(p, ec)) {
      files += ReplayFile(p);
    }
  }
  // Nothing replayed means the fixtures went missing: that is a failure too.
  return files > 0 ? 0 : 1;
}
