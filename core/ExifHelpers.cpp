#include "core/ExifHelpers.h"

#include <cstdio>
#include <ctime>

#include "core/PathHelpers.h"
#include "core/StringHelpers.h"
#include "exif/ExifImageFile.h"
#include "platform/files.h"

namespace {

constexpr uint16_t kApp1 = 0xFFE1;

}  // namespace

ExifTagSource::ExifTagSource(const std::wstring& path) {
  const std::string narrow = WideToNarrow(path);
  if (narrow.empty()) return;
  file_ = std::make_unique<ExifImageFile>();
  if (file_->Open(narrow, "r") != kExifOk) {
    file_.reset();
    return;
  }
  opened_ = true;
  ExifAppSegment* segment = file_->Segments().FindSegment(nullptr, kApp1, "Exif", true);
  auto* tiff = dynamic_cast<ExifTiffAppSeg*>(segment);
  if (!tiff) return;
  const auto& directories = tiff->Directories();
  for (size_t i = 0; i < directories.size(); ++i)
    directories[i]->CollectTags(&tags_, TagDirectoryPath{{0, static_cast<uint16_t>(i)}});
}

// The source was opened for reading: closing it writes nothing.
ExifTagSource::~ExifTagSource() = default;

bool RestoreExifTags(const std::wstring& destination, const DirectoryTagList& tags) {
  const std::string narrow = WideToNarrow(destination);
  if (narrow.empty()) return false;
  ExifImageFile file;
  if (file.Open(narrow, "r+") != kExifOk) return false;
  // Half-applied tags are not written: the file is released unwritten.
  if (file.ApplyTagList("Exif", tags) != kExifOk) return false;
  return file.Close() == kExifOk;
}

bool CloneExifTags(const std::wstring& source, const std::wstring& target) {
  if (!IsJpegFile(source) || !IsJpegFile(target)) return false;
  if (WideToNarrow(target).empty()) return false;
  // The list borrows the source's entries: the source stays open until the
  // target has taken its copies.
  const ExifTagSource tags(source);
  if (!tags.Opened()) return false;
  return RestoreExifTags(target, tags.Tags());
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
  if (file.Open(to, "r+") != kExifOk) return false;
  const ExifEntryText entry(36867, kTiffAscii, 20, std::string(text));
  // Only the explicit close writes the file; an early return leaves it.
  if (file.PutExifTag(entry) != kExifOk) return false;
  return file.Close() == kExifOk;
}
