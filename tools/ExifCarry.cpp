#include "tools/ExifCarry.h"

#include <cstdio>
#include <ctime>

#include "exif/ExifAppSegment.h"
#include "app/core/PathHelpers.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

constexpr uint16_t kApp1 = 0xFFE1;
constexpr uint32_t kDateTimeOriginal = 36867;
constexpr uint16_t kAsciiType = 2;

}  // namespace

ExifTagSource::ExifTagSource(const std::wstring& path) {
  const std::string narrow = pw::WideToNarrow(path);
  if (narrow.empty()) return;
  file_ = std::make_unique<ExifImageFile>();
  if (file_->Open(narrow, "r") != kExifOk) {
    file_->Close();
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

ExifTagSource::~ExifTagSource() {
  if (file_) file_->Close();
}

bool RestoreExifTags(const std::wstring& destination, const DirectoryTagList& tags) {
  const std::string narrow = pw::WideToNarrow(destination);
  if (narrow.empty()) return false;
  ExifImageFile file;
  if (file.Open(narrow, "r+") != kExifOk) {
    file.Discard();
    return false;
  }
  if (file.ApplyTagList("Exif", tags) != kExifOk) {
    // Half-applied tags are not written: the file stays as it was.
    file.Discard();
    return false;
  }
  return file.Close() == kExifOk;
}

bool PutShootingTime(const std::wstring& destination, const std::string& dateTime) {
  const std::string narrow = pw::WideToNarrow(destination);
  if (narrow.empty()) return false;
  ExifImageFile file;
  if (file.Open(narrow, "r+") != kExifOk) {
    file.Discard();
    return false;
  }
  // 19 characters and the closing NUL.
  if (file.PutExifTag(ExifEntryText(kDateTimeOriginal, kAsciiType, 20, dateTime)) != kExifOk) {
    file.Discard();
    return false;
  }
  return file.Close() == kExifOk;
}

std::string ExifDateText(const timespec& time) {
  std::tm local{};
  const time_t seconds = time.tv_sec;
  localtime_r(&seconds, &local);
  char text[96];
  std::snprintf(text, sizeof text, "%d:%02d:%02d %02d:%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

bool CloneExifTags(const std::wstring& source, const std::wstring& target) {
  if (!IsJpegFile(source) || !IsJpegFile(target)) return false;
  ExifTagSource tags(source);
  if (!tags.Opened()) return false;
  return RestoreExifTags(target, tags.Tags());
}

bool WriteShootingTime(const std::wstring& source, const std::wstring& target) {
  if (!IsJpegFile(target)) return false;
  const std::string narrow = pw::WideToNarrow(source);
  pw::FileTimes times;
  if (narrow.empty() || !pw::GetFileTimes(narrow, times)) return false;
  return PutShootingTime(target, ExifDateText(times.modification));
}
