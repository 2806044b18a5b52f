#include "exif_test_util.h"
#include "tests/needed_programs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace exiftest {

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/pwexif-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) abort();
  path_ = buf.data();
}

TempDir::~TempDir() { Run("chmod -R u+w " + Quote(path_) + " && rm -rf " + Quote(path_)); }

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

int Run(const std::string& command, std::string* out) {
  if (!pwtest::CheckProgramOf(command)) return 127;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  const int rc = pclose(p);
  if (out) *out = text;
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void CopyFile(const std::string& from, const std::string& to) { WriteAll(to, ReadAll(from)); }

const std::string& Fixtures() {
  // CTest runs every test in its own process: the pictures are made once
  // per build folder (under a lock) and remade when the script changes.
  static const std::string path = [] {
    const std::string dir = PW_EXIF_FIXTURE_DIR;
    const std::string script = std::string(PW_TEST_SOURCE_DIR) + "/make_fixtures.py";
    Run("mkdir -p " + Quote(dir));
    const std::string stamp = dir + "/.done";
    const std::string cmd = "exec 9>" + Quote(dir + "/.lock") + " && flock 9 && " +
                            "{ [ " + Quote(stamp) + " -nt " + Quote(script) + " ] || " +
                            "{ /usr/bin/python3 " + Quote(script) + " " + Quote(dir) + " && touch " +
                            Quote(stamp) + "; }; } 2>&1";
    std::string out;
    if (Run("bash -c " + Quote(cmd), &out) != 0) ADD_FAILURE() << "fixture script failed: " << out;
    return dir;
  }();
  return path;
}

std::string ValidationProblems(const std::string& path) {
  std::string out;
  Run("exiftool -validate -warning -a " + Quote(path) + " 2>&1", &out);
  if (out.find("Validate") != std::string::npos && out.find(": OK") != std::string::npos &&
      out.find("Warning") == std::string::npos) {
    return "";
  }
  return out;
}

std::string DumpTags(const std::string& path, const std::string& dumpPath) {
  Run("exiftool -a -G1 -s -n -j " + Quote(path) + " > " + Quote(dumpPath));
  return dumpPath;
}

std::vector<std::string> TagDiff(const std::string& beforeJson, const std::string& afterJson) {
  const std::string script = std::string(PW_TEST_SOURCE_DIR) + "/tagdiff.py";
  std::string out;
  Run("/usr/bin/python3 " + Quote(script) + " " + Quote(beforeJson) + " " + Quote(afterJson), &out);
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> SegmentOrder(const std::string& path) {
  std::string out;
  Run("exiv2 -pS " + Quote(path) + " 2>&1", &out);
  std::vector<std::string> order;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    // "      20 | 0xffe1 APP1  |     414 | Exif..."
    const size_t bar = line.find("| 0x");
    if (bar == std::string::npos) continue;
    std::istringstream fields(line.substr(bar + 2));
    std::string code, name;
    fields >> code >> name;
    if (name.rfind("APP", 0) == 0 || name == "COM") order.push_back(name);
    if (name == "DQT" || name == "SOF0" || name == "SOS") break;
  }
  return order;
}

int64_t FirstDqt(const std::vector<uint8_t>& j) {
  size_t pos = 2;
  while (pos + 4 <= j.size()) {
    if (j[pos] != 0xFF) return -1;
    if (j[pos + 1] == 0xDB) return static_cast<int64_t>(pos);
    pos += 2 + ((j[pos + 2] << 8) | j[pos + 3]);
  }
  return -1;
}

std::vector<uint8_t> FromFirstDqt(const std::vector<uint8_t>& j) {
  const int64_t at = FirstDqt(j);
  if (at < 0) return {};
  return std::vector<uint8_t>(j.begin() + at, j.end());
}

}  // namespace exiftest
