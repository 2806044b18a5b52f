#include "core/ExifHelpers.h"

#include <cstdio>
#include <ctime>

#include "core/PathHelpers.h"
#include "core/StringHelpers.h"
#include "exif/ExifImageFile.h"
#include "platform/files.h"

bool CloneExifTags(const std::wstring& source, const std::wstring& target) {
  if (!IsJpegFile(source) || !IsJpegFile(target)) return false;
  const std::string from = WideToNarrow(source);
  const std::string to = WideToNarrow(target);
  if (from.empty() || to.empty()) return false;

  ExifImageFile src;
  if (src.Open(from, "r") != kExifOk) return false;
  // The list borrows the source's entries: the source stays open until the
  // target has taken its copies.
  DirectoryTagList tags;
  ExifAppSegment* seg = src.Segments().FindSegment(nullptr, 0xFFE1, "Exif", true);
  if (auto* tiff = dynamic_cast<ExifTiffAppSeg*>(seg)) {
    for (const auto& dir : tiff->Directories()) dir->CollectTags(&tags, {{0, dir->Index()}});
  }

  ExifImageFile dst;
  if (dst.Open(to, "r+") != kExifOk) {
    dst.Discard();
    return false;
  }
  if (dst.ApplyTagList("Exif", tags) != kExifOk) {
    // Whatever was applied before the failure is not written.
    dst.Discard();
    return false;
  }
  return dst.Close() == kExifOk;
}

bool WriteShootingTime(const std::wstring& source, const std::wstring& target) {
  if (!IsJpegFile(target)) return false;
  const std::string from = WideToNarrow(source);
  const std::string to = WideToNarrow(target);
  if (from.empty() || to.empty()) return false;

  pw::FileTimes times;
  if (!pw::GetFileTimes(from, times)) return false;
  const time_t seconds = times.modification.tv_sec;
  tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return false;
  const int year = local.tm_year + 1900;
  // The EXIF date form has four digits for the year.
  if (year < 1000 || year > 9999) return false;
  char text[32];
  snprintf(text, sizeof text, "%d:%02d:%02d %02d:%02d:%02d", year, local.tm_mon + 1, local.tm_mday,
           local.tm_hour, local.tm_min, local.tm_sec);

  ExifImageFile file;
  if (file.Open(to, "r+") != kExifOk) {
    file.Discard();
    return false;
  }
  const ExifEntryText entry(36867, kTiffAscii, 20, std::string(text));
  if (file.PutExifTag(entry) != kExifOk) {
    file.Discard();
    return false;
  }
  return file.Close() == kExifOk;
}
