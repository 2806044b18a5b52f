// Helpers of the EXIF tests: temporary folders, peer programs (exiftool,
// exiv2, ImageMagick, Pillow) run through the shell, and byte access.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace exiftest {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs a shell command; its exit status, and its standard output in *out.
int Run(const std::string& command, std::string* out = nullptr);
std::string Quote(const std::string& s);

std::vector<uint8_t> ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes);
void CopyFile(const std::string& from, const std::string& to);

// The folder of fixtures made by make_fixtures.py, built once per program.
const std::string& Fixtures();

// exiftool -validate -warning -a: "" when it reports OK, else its report.
std::string ValidationProblems(const std::string& path);
// exiftool -a -G1 -s -n -j into a file beside the picture; returns its path.
std::string DumpTags(const std::string& path, const std::string& dumpPath);
// Lines of tagdiff.py for two dumps.
std::vector<std::string> TagDiff(const std::string& beforeJson, const std::string& afterJson);
// Markers of the segments before the image data, as exiv2 -pS lists them
// ("APP0", "APP1", "APP14", "COM", ...).
std::vector<std::string> SegmentOrder(const std::string& path);
// Offset of the first DQT marker, walking the segments; -1 when none.
int64_t FirstDqt(const std::vector<uint8_t>& jpeg);
// The bytes from the first DQT to the end.
std::vector<uint8_t> FromFirstDqt(const std::vector<uint8_t>& jpeg);

}  // namespace exiftest
