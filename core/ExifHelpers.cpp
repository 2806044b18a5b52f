#include "core/ExifHelpers.h"

#include <cstdio>
#include <ctime>

#include "core/PathHelpers.h"
#include "core/StringHelpers.h"
#include "exif/ExifImageFile.h"
#include "platform/files.h"

namespace {

constexpr uint16_t kApp1 = 0xFFE1;
constexpr uint16_t kApp2 = 0xFFE2;
constexpr char kIccIdentifier[] = "ICC_PROFILE";
constexpr char kXmpIdentifier[] = "http://ns.adobe.com/xap/1.0/";

bool IsProfileSegment(const ExifAppSegment& segment) {
  return (segment.Marker() == kApp2 && segment.Identifier() == kIccIdentifier) ||
         (segment.Marker() == kApp1 && segment.Identifier() == kXmpIdentifier);
}

// The thumbnail directory (the second top-level one) of a file's EXIF segment.
TagDirectory* ThumbnailDirectory(ExifImageFile& file) {
  auto* tiff =
      dynamic_cast<ExifTiffAppSeg*>(file.Segments().FindSegment(nullptr, kApp1, "Exif", true));
  if (!tiff || tiff->Directories().size() < 2) return nullptr;
  return tiff->Directories()[1].get();
}

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

std::vector<uint8_t> ExifTagSource::ThumbnailBytes() const {
  if (!file_) return {};
  const TagDirectory* directory = ThumbnailDirectory(*file_);
  return directory ? directory->ThumbnailBytes() : std::vector<uint8_t>();
}

std::vector<const ExifAppSegment*> ExifTagSource::ProfileSegments() const {
  std::vector<const ExifAppSegment*> found;
  if (!file_) return found;
  for (const ExifAppSegment* segment : file_->Segments().Segments())
    if (segment->IsRaw() && IsProfileSegment(*segment)) found.push_back(segment);
  return found;
}

bool CarryJpegMetadata(const std::wstring& target, const ExifTagSource* tags, bool keepThumbnail,
                       const ExifTagSource* profileFrom) {
  const std::string narrow = WideToNarrow(target);
  if (narrow.empty()) return false;
  ExifImageFile file;
  if (file.Open(narrow, "r+") != kExifOk) return false;
  // The profile and XMP segments are set aside and go back in after the new
  // EXIF segment, so that stays the first APP1 segment, as readers expect.
  std::vector<std::unique_ptr<ExifAppSegment>> profile;
  if (profileFrom) {
    for (const ExifAppSegment* segment : profileFrom->ProfileSegments())
      profile.push_back(segment->Clone());
  } else {
    for (const ExifAppSegment* segment : file.Segments().Segments())
      if (segment->IsRaw() && IsProfileSegment(*segment)) profile.push_back(segment->Clone());
  }
  file.Segments().Remove(kApp2, kIccIdentifier);
  file.Segments().Remove(kApp1, kXmpIdentifier);
  // Whatever EXIF block the new file has (its own, or the defaults the
  // library adds on opening) gives way to exactly the tags carried.
  file.Segments().Remove(kApp1, "Exif");
  if (tags && tags->Opened() && !tags->Tags().empty()) {
    if (file.ApplyTagList("Exif", tags->Tags()) != kExifOk) return false;
    if (keepThumbnail) {
      std::vector<uint8_t> thumbnail = tags->ThumbnailBytes();
      TagDirectory* directory = ThumbnailDirectory(file);
      if (!thumbnail.empty() && directory) directory->SetThumbnailBytes(std::move(thumbnail));
    }
  }
  // Equal markers keep their insertion order, so the chunks keep theirs.
  for (auto& segment : profile) file.Segments().Insert(std::move(segment));
  return file.Close() == kExifOk;
}

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
