// The picture tree of the resizing, cloning and conversion tests, made once
// per test program by make_tool_tree.sh (peer programs only) and copied
// fresh for each test; and the peer-program checks the tests share.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/text.h"
#include "tests/needed_programs.h"

namespace tooltest {

namespace fs = std::filesystem;

inline std::string Shell(const std::string& command, int* status = nullptr) {
  std::string output;
  if (!pwtest::CheckProgramOf(command)) {
    if (status) *status = -1;
    return output;
  }
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int rc = ::pclose(pipe);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return output;
}

inline std::string Quote(const std::string& path) {
  std::string quoted = "'";
  for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::wstring W(const std::string& narrow) { return pw::NarrowToWide(narrow); }
inline std::string N(const std::wstring& wide) { return pw::WideToNarrow(wide); }

// "WxH" of every frame as identify-im6.q16 reads them; empty when it cannot.
inline std::string Identify(const std::string& path) {
  int status = 0;
  std::string out = Shell("identify-im6.q16 -format '%wx%h;' " + Quote(path) + " 2>/dev/null",
                          &status);
  return status == 0 ? out : std::string();
}

// The EXIF tags exiftool reads, "[group] name : value" per line, without
// the file-system and container groups, the size of the pixels a rewrite
// records, the thumbnail directory (its picture is kept in the directory's
// data, not in tags, so the tag copy does not carry it, and a thumbnail
// directory without its picture is not written), and the GPS coordinates
// (compared by GpsNear, as positions within a small distance).
inline std::string Tags(const std::string& path, const std::string& extra = "") {
  std::string out = Shell(
      "exiftool -a -G1 -s -n -x File:all -x System:all -x ExifTool:all -x Composite:all "
      "-x JFIF:all -x ICC_Profile:all -x XMP:all -x IFD1:all -x ExifImageWidth -x ExifImageHeight -x GPSLatitude -x GPSLongitude " +
      extra + " " + Quote(path) + " 2>/dev/null");
  return out;
}

inline std::string Tag(const std::string& path, const std::string& tag) {
  std::string out = Shell("exiftool -s3 -n -" + tag + " " + Quote(path) + " 2>/dev/null");
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// Every tag of `source` is in `result` with the same value, as Tags lists
// them. A result may have more (a conversion may add the shooting time):
// this checks only that nothing was lost or changed.
inline ::testing::AssertionResult TagsKeptIn(const std::string& sourceTags, const std::string& have) {
  std::istringstream lines(sourceTags);
  std::string line;
  size_t count = 0;
  while (std::getline(lines, line)) {
    ++count;
    if (have.find(line + "\n") == std::string::npos)
      return ::testing::AssertionFailure() << "missing: " << line << "\nin:\n" << have;
  }
  if (count == 0) return ::testing::AssertionFailure() << "the source has no tags";
  return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult TagsKept(const std::string& source, const std::string& result) {
  return TagsKeptIn(Tags(source), Tags(result));
}

// Tags of several files by one exiftool run (each run starts a Perl
// interpreter, which costs far more than reading a small file): the
// listing of each path as Tags gives it.
inline std::map<std::string, std::string> TagsOf(const std::vector<std::string>& paths) {
  std::string command =
      "exiftool -a -G1 -s -n -x File:all -x System:all -x ExifTool:all -x Composite:all "
      "-x JFIF:all -x ICC_Profile:all -x XMP:all -x IFD1:all -x ExifImageWidth -x ExifImageHeight -x GPSLatitude "
      "-x GPSLongitude";
  for (const std::string& path : paths) command += " " + Quote(path);
  std::istringstream lines(Shell(command + " 2>/dev/null"));
  std::map<std::string, std::string> listings;
  // Several files: each listing follows a "======== path" line, and a count
  // of the files read ends the output. One file: neither.
  std::string current = paths.size() == 1 ? paths[0] : "";
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("======== ", 0) == 0)
      current = line.substr(9);
    else if (paths.size() > 1 && line.rfind(' ', 0) == 0 && line.find(" files ") != std::string::npos)
      current.clear();
    else if (!current.empty())
      listings[current] += line + "\n";
    else
      ADD_FAILURE() << "exiftool line outside a file's listing: " << line;
  }
  return listings;
}

// exiftool's values (as numbers) of `tags` in each of `paths`, by one run:
// values[path][tag], "" where the file has no such tag.
inline std::map<std::string, std::map<std::string, std::string>> TagTable(const std::vector<std::string>& paths,
                                                                         const std::vector<std::string>& tags) {
  std::string command = "exiftool -T -f -n -FileName";
  for (const std::string& tag : tags) command += " -" + tag;
  for (const std::string& path : paths) command += " " + Quote(path);
  std::istringstream lines(Shell(command + " 2>/dev/null"));
  std::map<std::string, std::map<std::string, std::string>> values;
  size_t index = 0;
  for (std::string line; std::getline(lines, line); ++index) {
    std::vector<std::string> fields;
    std::istringstream cells(line);
    for (std::string cell; std::getline(cells, cell, '\t');) fields.push_back(cell);
    // One line per file in the order given, the file's name first.
    if (index >= paths.size() || fields.size() != tags.size() + 1 ||
        fields[0] != fs::path(paths[index]).filename().string()) {
      ADD_FAILURE() << "exiftool's table line " << index << ": " << line;
      return {};
    }
    for (size_t t = 0; t < tags.size(); ++t) values[paths[index]][tags[t]] = fields[t + 1] == "-" ? "" : fields[t + 1];
  }
  EXPECT_EQ(index, paths.size()) << command;
  return values;
}

// The GPS position of two files agrees to a millionth of a degree.
inline ::testing::AssertionResult GpsNear(const std::string& a, const std::string& b) {
  for (const char* tag : {"GPSLatitude", "GPSLongitude"}) {
    const std::string ta = Tag(a, tag), tb = Tag(b, tag);
    if (ta.empty() || tb.empty() || std::abs(std::stod(ta) - std::stod(tb)) > 1e-6)
      return ::testing::AssertionFailure() << tag << " " << ta << " vs " << tb;
  }
  return ::testing::AssertionSuccess();
}

// The bytes of a JPEG without its application segments and comments: the
// frame, the tables and the compressed scans.
inline std::string ImageData(const std::string& jpeg) {
  std::string out = jpeg.substr(0, 2);
  size_t at = 2;
  while (at + 4 <= jpeg.size() && static_cast<uint8_t>(jpeg[at]) == 0xFF) {
    const auto marker = static_cast<uint8_t>(jpeg[at + 1]);
    const size_t length = (static_cast<uint8_t>(jpeg[at + 2]) << 8) | static_cast<uint8_t>(jpeg[at + 3]);
    if (marker == 0xDA) break;  // the scans run to the end
    if (!((marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE))
      out += jpeg.substr(at, 2 + length);
    at += 2 + length;
  }
  return out + jpeg.substr(at);
}

inline struct stat Stat(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st;
}

inline bool SameMtime(const std::string& a, const std::string& b) {
  const struct stat sa = Stat(a), sb = Stat(b);
  return sa.st_mtim.tv_sec == sb.st_mtim.tv_sec && sa.st_mtim.tv_nsec == sb.st_mtim.tv_nsec;
}

// The tree's template. Every test case runs in a process of its own, so the
// template is kept in the temporary folder under a name made from the
// script's content and reused by the later processes; a changed script
// makes a new one. TreeCopy gives each test its own copy.
inline const std::string& TemplateTree() {
  static std::string root = [] {
    const std::string script = ReadFile(PW_TOOL_TREE_SCRIPT);
    const std::string final = fs::temp_directory_path().string() + "/pw-tooltree-" +
                              std::to_string(std::hash<std::string>{}(script)) + "-" +
                              std::to_string(::getuid());
    if (fs::exists(final + "/photos/le.jpg")) return final;
    std::string tmpl = fs::temp_directory_path().string() + "/pw-tooltree-new-XXXXXX";
    if (!::mkdtemp(tmpl.data())) std::abort();
    int status = 0;
    const std::string log = Shell("sh " + Quote(std::string(PW_TOOL_TREE_SCRIPT)) + " " +
                                      Quote(tmpl) + " 2>&1",
                                  &status);
    if (status != 0) {
      std::fprintf(stderr, "make_tool_tree.sh failed:\n%s\n", log.c_str());
      std::abort();
    }
    // Another test process may have finished first: keep its tree.
    if (::rename(tmpl.c_str(), final.c_str()) != 0)
      Shell("chmod -R u+w " + Quote(tmpl) + "; rm -rf " + Quote(tmpl));
    return final;
  }();
  return root;
}

class TreeCopy {
 public:
  TreeCopy() {
    std::string tmpl = fs::temp_directory_path().string() + "/pw-tooltest-XXXXXX";
    if (!::mkdtemp(tmpl.data())) std::abort();
    path_ = tmpl;
    Shell("cp -a " + Quote(TemplateTree() + "/photos") + " " + Quote(path_ + "/photos"));
  }
  ~TreeCopy() {
    Shell("chmod -R u+w " + Quote(path_) + " 2>/dev/null; rm -rf " + Quote(path_));
  }
  TreeCopy(const TreeCopy&) = delete;
  TreeCopy& operator=(const TreeCopy&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }
  // The untouched original of a picture of the tree.
  static std::string Original(const std::string& rel) { return TemplateTree() + "/" + rel; }

 private:
  std::string path_;
};

// Files in a folder tree whose names start with the working-file prefix.
inline std::vector<std::string> StagedLeftovers(const std::string& root) {
  std::vector<std::string> found;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       it != fs::recursive_directory_iterator(); it.increment(error))
    if (it->path().filename().string().rfind(".pixelwharf-", 0) == 0)
      found.push_back(it->path().string());
  return found;
}

}  // namespace tooltest
