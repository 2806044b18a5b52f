// Fuzz target for the two readers of a JPEG file's EXIF data.
// - The EXIF library: the input becomes a file, which is opened for reading
//   with every typed segment parsed and walked, then has its tags copied
//   into an edited copy of itself that is written back and read once more.
//   That is the road of a batch run that copies or rewrites tags of a
//   stranger's picture. The source's pixels are read too, at 1/8 scale.
// - The image library's section reader: the input's sections are split and
//   its EXIF block digested, the EXIF and comment sections kept and written
//   in front of the input's own image data, as a JPEG save that keeps them.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "exif/ExifImageFile.h"
#include "imagelib/ExifSectionReader.h"
#include "imagelib/PxFile.h"

namespace {

// One folder per process, since several fuzzing jobs may run side by side;
// it goes away when the process ends normally.
struct WorkFolderOwner {
  std::filesystem::path path;
  WorkFolderOwner() {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec) base = "/tmp";
    path = base / ("pw-exif-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(path, ec);
  }
  ~WorkFolderOwner() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

const std::filesystem::path& WorkFolder() {
  static const WorkFolderOwner folder;
  return folder.path;
}

bool WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

void Walk(const TagDirectory& dir, std::ostream& out) {
  for (const auto& [tag, entry] : dir.Entries()) {
    entry->Print(out);
    out << entry->Numbers().size() << entry->Integers().size();
  }
  out << dir.RowBytes() << dir.StripsPerImage() << dir.ThumbnailBytes().size();
  if (const ThumbnailImage* t = dir.Thumbnail()) out << t->width << t->height << t->pixels.size();
  for (const auto& [tag, dirs] : dir.SubDirectories()) {
    for (const auto& d : dirs) Walk(*d, out);
  }
}

// Parses the first segment of every marker and identifier seen, walks the
// TIFF ones, and lays each out again in a segment-sized buffer.
void ParseAll(ExifImageFile& file, DirectoryTagList* tags) {
  std::set<std::pair<uint16_t, std::string>> keys;
  for (ExifAppSegment* seg : file.Segments().Segments()) keys.emplace(seg->Marker(), seg->Identifier());
  std::ostringstream sink;
  for (const auto& [marker, identifier] : keys) {
    auto* tiff = dynamic_cast<ExifTiffAppSeg*>(file.Segments().FindSegment(nullptr, marker, identifier, true));
    if (!tiff) continue;
    for (const auto& d : tiff->Directories()) {
      Walk(*d, sink);
      if (tags && marker == 0xFFE1 && identifier == "Exif") d->CollectTags(tags, {{0, d->Index()}});
    }
  }
}

// The pixel road of the EXIF library, kept small: the whole picture at
// 1/8 scale when that is at most a million pixels.
void ReadPixels(ExifImageFile& file) {
  int32_t w = 0, h = 0;
  if (file.SetScale(8, &w, &h) != kExifOk || w <= 0 || h <= 0 || static_cast<int64_t>(w) * h > (1 << 20)) return;
  ThumbnailImage image;
  if (image.Allocate(w, h, file.components == 1 ? 1 : 3) != kExifOk) return;
  int32_t rows = 0;
  bool done = false;
  file.ReadImage(image, h, &rows, &done);
}

int SectionReader(const uint8_t* data, size_t size) {
  if (size > 0x7FFF0000u) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  PxMemFile in(bytes.data(), static_cast<int32_t>(size));
  ExifSectionReader reader;
  if (!reader.ReadSections(&in, ExifSectionReader::kDigestExif)) return 0;
  // The thumbnail pointer must lie inside the held section data.
  const ExifSummary& summary = *reader.Summary();
  int sum = 0;
  for (int32_t i = 0; summary.thumbnailPointer && i < summary.thumbnailSize; ++i) sum += summary.thumbnailPointer[i];
  reader.KeepExifAndComment();
  PxMemFile again(bytes.data(), static_cast<int32_t>(size));
  if (!reader.ReadSections(&again, ExifSectionReader::kReadImageData)) return sum;
  PxMemFile out;
  out.Open();
  reader.WriteSections(&out);
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SectionReader(data, size);
  const std::string original = (WorkFolder() / "input.jpg").string();
  const std::string edited = (WorkFolder() / "edited.jpg").string();
  if (!WriteFile(original, data, size) || !WriteFile(edited, data, size)) return 0;

  ExifImageFile source;
  DirectoryTagList tags;
  if (source.Open(original, "r") == kExifOk) {
    ParseAll(source, &tags);
    ReadPixels(source);
  }

  {
    ExifImageFile target;
    if (target.Open(edited, "r+") == kExifOk) {
      target.ApplyTagList("Exif", tags);
      target.PutExifTag(ExifEntryText(36867, kTiffAscii, 20, std::string("2020:01:02 03:04:05")));
      target.Close();
    }
  }
  source.Close();

  ExifImageFile reread;
  if (reread.Open(edited, "r") == kExifOk) ParseAll(reread, nullptr);
  return 0;
}
