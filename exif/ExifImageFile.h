// A JPEG file opened by name to read its tags ("r"), edit them ("r+") or
// create it ("w"). Opening scans the markers and keeps every APPn segment
// in the segment list; closing an edited file writes it anew: start of
// image, the segments, the comments, then the image data unchanged.
// Close is the commit: an object destroyed without it writes nothing.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "exif/ExifAppSegment.h"
#include "exif/ExifResult.h"
#include "exif/ExifStream.h"
#include "exif/ExifTagEntry.h"
#include "exif/TagDirectory.h"

class ExifOpenFile {
 public:
  ExifOpenFile() = default;
  virtual ~ExifOpenFile() = default;
  ExifOpenFile(const ExifOpenFile&) = delete;
  ExifOpenFile& operator=(const ExifOpenFile&) = delete;

  virtual ExifResult Close();
  virtual ExifResult OpenImage(const char* mode) = 0;
  // Opens the stream and the image; 7 or 9 from the stream.
  ExifResult Open(const std::string& name, const char* mode);

  ExifStream* Stream() const { return stream_.get(); }
  const std::string& Name() const { return name_; }

 protected:
  std::unique_ptr<ExifStream> stream_;
  bool ownsStream_ = false;
  std::string name_;
};

// Quantisation and Huffman tables met while scanning the markers.
struct JpegTableRecord {
  uint16_t quant[4][64] = {};  // natural order
  bool quantSet[4] = {};
  struct Huffman {
    uint8_t counts[16] = {};
    uint8_t values[256] = {};
    bool set = false;
  };
  Huffman dc[4], ac[4];
};

// The frame description of a JPEG file as far as the marker scan fills it.
class ExifJpegImage : public ExifOpenFile {
 public:
  int32_t width = 0;
  int32_t height = 0;
  uint16_t components = 3;
  uint16_t precision = 8;
  uint8_t sampling[4] = {};
  uint8_t quantTableNo[4] = {};
  uint16_t quality = 90;
  std::unique_ptr<JpegTableRecord> tables;
};

class ExifImageFile final : public ExifJpegImage {
 public:
  ExifImageFile();

  // Writes an edited or new file back (through a replacement file), then
  // releases the stream and the segments. A second close returns 0.
  ExifResult Close() override;
  // Destroying the object releases the file as Discard does.
  ~ExifImageFile() override;
  ExifResult OpenImage(const char* mode) override;
  // Releases the file without writing anything back: an edit that failed
  // half-way leaves the file as it was.
  void Discard();

  AppSegmentList& Segments() { return segments_; }
  const std::vector<std::vector<uint8_t>>& Comments() const { return comments_; }

  ExifResult ApplyTagList(const std::string& identifier, const DirectoryTagList& list);
  ExifResult PutTagInDirectory(const ExifTagEntry& entry, uint16_t marker, const std::string& identifier,
                               const TagDirectoryPath& path);
  ExifResult PutExifTag(const ExifTagEntry& entry);

 private:
  ExifResult ScanMarkers();
  ExifResult ReadFrameHeader(int64_t bodyLength);
  ExifResult ReadHuffmanTables(int64_t bodyLength);
  ExifResult ReadQuantTables(int64_t bodyLength);
  ExifResult ReadAppSegment(int64_t markerPos, uint16_t marker, uint16_t length);
  bool HeadCheck();
  ExifResult AddDefaultExifSegment();
  void AddMissingDefaults(TagDirectory* dir, std::initializer_list<uint32_t> tags);
  ExifResult Rewrite();
  ExifResult FindImageData(int64_t* start);
  ExifResult WriteSegment(ExifAppSegment* segment, ExifStream* out);
  void ReleaseAll();

  AppSegmentList segments_;
  std::map<uint32_t, std::unique_ptr<ExifTagEntry>> defaultTags_;
  std::vector<std::vector<uint8_t>> comments_;
  ExifResult openStatus_ = kExifOk;
};

enum TagDirectoryKind {
  kDirMain = 0,
  kDirExif = 1,
  kDirInterop = 3,
  kDirGps = 4,
  kDirThumbnail = 5,
  kDirMeta = 6,
  kDirMetaSub = 9,
};
// Segment marker, identifier and path of a directory kind; 21 for others.
ExifResult DirectoryKindToPath(int kind, uint16_t* marker, std::string* identifier, TagDirectoryPath* path);
