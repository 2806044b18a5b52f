#include "tools/ExifCarry.h"

#include "exif/ExifAppSegment.h"
#include "platform/text.h"

namespace {

constexpr uint16_t kApp1 = 0xFFE1;

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
