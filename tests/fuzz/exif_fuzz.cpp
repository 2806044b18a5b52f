// Fuzz target for the EXIF library's JPEG side: the input becomes a file,
// which is opened for reading with every typed segment parsed and walked,
// then has its tags copied into an edited copy of itself that is written
// back and read once more. That is the road of a batch run that copies or
// rewrites tags of a stranger's picture.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <utility>

#include "exif/ExifImageFile.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string original = (WorkFolder() / "input.jpg").string();
  const std::string edited = (WorkFolder() / "edited.jpg").string();
  if (!WriteFile(original, data, size) || !WriteFile(edited, data, size)) return 0;

  ExifImageFile source;
  DirectoryTagList tags;
  if (source.Open(original, "r") == kExifOk) ParseAll(source, &tags);

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
