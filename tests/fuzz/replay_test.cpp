// Replays every file of a crasher folder (and the seed folder beside it)
// through a fuzz target's entry. Built with the ordinary compiler, so files
// that once crashed a decoder run in every test pass, under the sanitizers
// too; a file that crashes, hangs or leaks again fails here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "replay_dirs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::filesystem::path> ReplayFiles() {
  std::vector<std::filesystem::path> files;
  for (const char* folder : {pwfuzz::kCrasherDir, pwfuzz::kSeedDir}) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
      if (e.is_regular_file() && e.path().filename() != "README.md") files.push_back(e.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

class Replay : public testing::TestWithParam<std::filesystem::path> {};

TEST_P(Replay, RunsCleanly) {
  std::ifstream in(GetParam(), std::ios::binary);
  ASSERT_TRUE(in) << GetParam();
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

std::string NameOf(const testing::TestParamInfo<std::filesystem::path>& info) {
  // decoder_folder_file, e.g. bmp_crashers_oom_32bit_scratch_beyond_file
  const std::filesystem::path folder = info.param.parent_path();
  std::string name = folder.filename().string() + "_" + folder.parent_path().filename().string() + "_" +
                     info.param.stem().string();
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Files, Replay, testing::ValuesIn(ReplayFiles()), NameOf);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Replay);

}  // namespace
