#include "core/ExifHelpers.h"

#include <cstdio>
#include <ctime>

#include "core/PathHelpers.h"
#include "core/StringHelpers.h"
#include "exif/ExifImageFile.h"
#include "platform/files.h"

namespace {

constexpr uint16_t kApp0 = 0xFFE0;
constexpr uint16_t kApp1 = 0xFFE1;
constexpr uint16_t kApp2 = 0xFFE2;
constexpr uint16_t kApp13 = 0xFFED;
constexpr char kIccIdentifier[] = "ICC_PROFILE";
constexpr char kXmpIdentifier[] = "http://ns.adobe.com/xap/1.0/";
constexpr char kExtendedXmpIdentifier[] = "http://ns.adobe.com/xmp/extension/";
constexpr char kIptcIdentifier[] = "Photoshop 3.0";

// The segments that describe the picture rather than its tags: they go
// along with it byte for byte.
bool IsProfileSegment(const ExifAppSegment& segment) {
  return (segment.Marker() == kApp2 && segment.Identifier() == kIccIdentifier) ||
         (segment.Marker() == kApp1 && segment.Identifier() == kXmpIdentifier) ||
         (segment.Marker() == kApp1 && segment.Identifier() == kExtendedXmpIdentifier) ||
         (segment.Marker() == kApp13 && segment.Identifier() == kIptcIdentifier);
}

bool IsIccSegment(const ExifAppSegment& segment) {
  return segment.Marker() == kApp2 && segment.Identifier() == kIccIdentifier;
}

// The colour space field of an ICC profile header, read from the chunk
// that starts the profile (chunk 1); empty when there is none.
std::string ProfileColourSpace(const std::vector<std::unique_ptr<ExifAppSegment>>& segments) {
  for (const auto& segment : segments) {
    std::string space = IccProfileColourSpace(*segment);
    if (!space.empty()) return space;
  }
  return std::string();
}

// True when a profile of that colour space describes a JPEG of that many
// components.
bool SpaceFitsComponents(const std::string& space, int components) {
  switch (components) {
    case 1: return space == "GRAY";
    case 3: return space == "RGB " || space == "YCbr";
    case 4: return space == "CMYK";
    default: return false;
  }
}

// The thumbnail directory (the second top-level one) of a file's EXIF segment.
TagDirectory* ThumbnailDirectory(ExifImageFile& file) {
  auto* tiff =
      dynamic_cast<ExifTiffAppSeg*>(file.Segments().FindSegment(nullptr, kApp1, "Exif", true));
  if (!tiff || tiff->Directories().size() < 2) return nullptr;
  return tiff->Directories()[1].get();
}

// The first value of a main-directory tag in the list; false when absent.
bool MainDirectoryValue(const DirectoryTagList& tags, uint32_t tag, double* value) {
  const TagDirectoryPath main = {{0, 0}};
  for (const DirectoryTags& directory : tags) {
    if (directory.path != main) continue;
    for (const ExifTagEntry* entry : directory.entries) {
      if (!entry || entry->Tag() != tag) continue;
      const std::vector<double> numbers = entry->Numbers();
      if (numbers.empty()) return false;
      *value = numbers[0];
      return true;
    }
  }
  return false;
}

uint16_t DensityField(double value) {
  if (!(value >= 1)) return 1;
  if (value >= 65535) return 65535;
  return static_cast<uint16_t>(value + 0.5);
}

// The target's JFIF density, kept in agreement with the EXIF resolution it
// carries: EXIF resolution unit 1 (none), 2 (inch) and 3 (centimetre) are
// JFIF units 0, 1 and 2. Without EXIF resolution the density of the picture
// it was made from stands, and without that, none is claimed.
void CarryDensity(ExifImageFile& file, const DirectoryTagList* tags, const ExifTagSource* densityFrom) {
  auto* jfif = dynamic_cast<ExifApp0Seg*>(file.Segments().FindSegment(nullptr, kApp0, "JFIF", true));
  if (!jfif) return;
  double x = 0, y = 0, unit = 2;
  if (tags && MainDirectoryValue(*tags, 282, &x) && MainDirectoryValue(*tags, 283, &y) && x > 0 && y > 0) {
    MainDirectoryValue(*tags, 296, &unit);
    jfif->units = unit == 3 ? 2 : unit == 1 ? 0 : 1;
    jfif->xDensity = DensityField(x);
    jfif->yDensity = DensityField(y);
    return;
  }
  if (!densityFrom) return;  // the target's own density stands
  if (const ExifApp0Seg* own = densityFrom->Jfif(); own && own->xDensity != 0 && own->yDensity != 0) {
    jfif->units = own->units <= 2 ? own->units : 0;
    jfif->xDensity = own->xDensity;
    jfif->yDensity = own->yDensity;
    return;
  }
  jfif->units = 0;
  jfif->xDensity = 1;
  jfif->yDensity = 1;
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
  if (!file_->Segments().FindSegment(nullptr, kApp1, "Exif", false)) return;
  ExifAppSegment* segment = file_->Segments().FindSegment(nullptr, kApp1, "Exif", true);
  auto* tiff = dynamic_cast<ExifTiffAppSeg*>(segment);
  if (!tiff) {
    unreadable_ = true;  // the segment is there, but not as a TIFF structure
    return;
  }
  bigEndian_ = tiff->IsBigEndian();
  const auto& directories = tiff->Directories();
  for (size_t i = 0; i < directories.size(); ++i)
    directories[i]->CollectTags(&tags_, TagDirectoryPath{{0, static_cast<uint16_t>(i)}});
  // A header that points at a main directory from which nothing could be read.
  unreadable_ = tiff->firstOffset != 0 && TagCount() == 0;
}

// The source was opened for reading: closing it writes nothing.
ExifTagSource::~ExifTagSource() = default;

size_t ExifTagSource::TagCount() const {
  size_t count = 0;
  for (const DirectoryTags& directory : tags_) count += directory.entries.size();
  return count;
}

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

const ExifApp0Seg* ExifTagSource::Jfif() const {
  if (!file_) return nullptr;
  return dynamic_cast<const ExifApp0Seg*>(file_->Segments().FindSegment(nullptr, kApp0, "JFIF", true));
}

bool CarryJpegMetadata(const std::wstring& target, const ExifTagSource* tags, bool keepThumbnail,
                       const ExifTagSource* profileFrom, bool upright) {
  const std::string narrow = WideToNarrow(target);
  if (narrow.empty()) return false;
  ExifImageFile file;
  if (file.Open(narrow, "r+") != kExifOk) return false;
  // The profile, XMP and IPTC segments are set aside and go back in after
  // the new EXIF segment, so that stays the first APP1 segment, as readers
  // expect.
  std::vector<std::unique_ptr<ExifAppSegment>> profile;
  if (profileFrom) {
    for (const ExifAppSegment* segment : profileFrom->ProfileSegments())
      profile.push_back(segment->Clone());
  } else {
    for (const ExifAppSegment* segment : file.Segments().Segments())
      if (segment->IsRaw() && IsProfileSegment(*segment)) profile.push_back(segment->Clone());
  }
  // A colour profile describes the components it was made for: a CMYK
  // profile over the three components a CMYK picture was written with, or
  // an RGB one over a grey picture, is dropped rather than carried.
  if (!SpaceFitsComponents(ProfileColourSpace(profile), file.components)) {
    std::erase_if(profile, [](const std::unique_ptr<ExifAppSegment>& segment) { return IsIccSegment(*segment); });
  }
  file.Segments().Remove(kApp2, kIccIdentifier);
  file.Segments().Remove(kApp1, kXmpIdentifier);
  file.Segments().Remove(kApp1, kExtendedXmpIdentifier);
  file.Segments().Remove(kApp13, kIptcIdentifier);
  // Whatever EXIF block the new file has (its own, or the defaults the
  // library adds on opening) gives way to exactly the tags carried: no
  // default tag is added (it would claim what may not be true of the
  // picture, and could push a full segment past its limit).
  file.Segments().Remove(kApp1, "Exif");
  const bool carries = tags && tags->Opened() && tags->TagCount() > 0;
  if (carries) {
    auto segment = std::make_unique<ExifTiffAppSeg>(kApp1, "Exif");
    segment->InitDefaultHeader();
    segment->SetBigEndian(tags->BigEndian());
    ExifTiffAppSeg* tiff = segment.get();
    file.Segments().Insert(std::move(segment));
    if (tiff->ApplyTagList(tags->Tags()) != kExifOk) return false;
    TagDirectory* main = tiff->FindDirectory(TagDirectoryPath{{0, 0}});
    if (upright && main && main->GetEntry(274))
      main->SetEntry(std::make_unique<ExifEntryU16>(274, kTiffShort, 1, static_cast<unsigned short>(1)));
    if (keepThumbnail) {
      std::vector<uint8_t> thumbnail = tags->ThumbnailBytes();
      TagDirectory* directory = ThumbnailDirectory(file);
      if (!thumbnail.empty() && directory) directory->SetThumbnailBytes(std::move(thumbnail));
    }
  }
  CarryDensity(file, carries ? &tags->Tags() : nullptr, profileFrom);
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
  return WriteShootingTimeText(target, text);
}

bool WriteShootingTimeText(const std::wstring& target, const std::string& text) {
  const std::string to = WideToNarrow(target);
  if (!IsJpegFile(target) || to.empty() || text.empty()) return false;
  ExifImageFile file;
  if (file.Open(to, "r+") != kExifOk) return false;
  const ExifEntryText entry(36867, kTiffAscii, static_cast<uint32_t>(text.size() + 1), text);
  // Only the explicit close writes the file; an early return leaves it.
  if (file.PutExifTag(entry) != kExifOk) return false;
  return file.Close() == kExifOk;
}
