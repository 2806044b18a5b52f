// A JPEG file opened by name to read its tags ("r"), edit them ("r+") or
// create it ("w"). Opening scans the markers and keeps every APPn segment
// in the segment list; closing an edited file writes it anew: start of
// image, the segments, the comments, then the image data unchanged (or
// the new pixels written through WriteImage).
// Close is the commit: an object destroyed without it writes nothing.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "exif/ExifAppSegment.h"
#include "exif/ExifJpegImage.h"
#include "exif/ExifResult.h"
#include "exif/ExifStream.h"
#include "exif/ExifTagEntry.h"
#include "exif/TagDirectory.h"

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

  // New pixels: written, all rows in one call, into a temporary JPEG file
  // whose image data replaces the file's own when the file is closed. The
  // temporary file counts only once every row is in it; 1 for a second
  // one, 3 in mode "r".
  ExifResult WriteImage(const ThumbnailImage& image, int32_t rows, int32_t* outWritten,
                        int32_t* outTotal) override;
  ExifResult ReadImage(ThumbnailImage& image, int32_t rows, int32_t* outRead, bool* outDone) override;
  // Settings go to the file's own reads and to the image that writes the
  // new pixels.
  ExifResult SetImageInfo(int32_t w, int32_t h, uint16_t comps, uint16_t prec, int32_t colour,
                          const uint8_t sampling[4], const uint8_t tableNumbers[4]) override;
  void SetDctMethod(int32_t method) override;
  void SetQuality(uint16_t value) override;
  void SetSmoothing(uint16_t value) override;
  void SetOptimizeCoding(bool on) override;
  void SetProgressive(bool on) override;
  ExifResult SetScale(int scale, int32_t* outWidth, int32_t* outHeight) override;
  ExifResult SetTables(const uint16_t* const quant[4], const JpegTableRecord::Huffman* dc0,
                       const JpegTableRecord::Huffman* dc1, const JpegTableRecord::Huffman* ac0,
                       const JpegTableRecord::Huffman* ac1, int32_t kind) override;
  ExifResult SetQuantTable(int slot, const uint16_t table[64]) override;
  // The tables and sampling met by the marker scan.
  ExifResult GetQuantTable(int slot, uint16_t out[64]) override;
  ExifResult UseStandardTables(int on) override;
  int GetHorizontalSampling(int componentId) override;
  int GetVerticalSampling(int componentId) override;
  // A copy is kept for the next WriteImage.
  ExifResult SetIccProfile(const uint8_t* bytes, uint32_t length) override;
  ExifResult SetQuantTableWithQuality(int slot, const uint16_t table[64], uint16_t quality);
  // The writing image's compressor, set to halve chroma horizontally only.
  ExifJpegCompress* GetCompressor();
  // The temporary file holding new pixels; empty when none.
  const std::string& TemporaryName() const { return tempName_; }

 private:
  ExifResult ScanMarkers();
  ExifResult ReadFrameHeader(int64_t bodyLength);
  ExifResult ReadHuffmanTables(int64_t bodyLength);
  ExifResult ReadQuantTables(int64_t bodyLength);
  ExifResult ReadAppSegment(int64_t markerPos, uint16_t marker, uint16_t length);
  bool HeadCheck();
  ExifResult AddDefaultExifSegment();
  void AddMissingDefaults(TagDirectory* dir, std::initializer_list<uint32_t> tags);
  // A copy of default tag `tag`, made true of this picture: the component
  // order names a grey picture's one component (none for four); the colour
  // space says "uncalibrated" beside a profile that is not sRGB.
  std::unique_ptr<ExifTagEntry> DefaultTag(uint32_t tag);
  // The resolution tags (282, 283, 296) follow the file's JFIF header when
  // it has one; other tags are the library's defaults.
  std::unique_ptr<ExifTagEntry> ResolutionOrDefaultTag(uint32_t tag);
  ExifResult Rewrite();
  ExifResult FindImageData(int64_t* start);
  ExifResult WriteSegment(ExifAppSegment* segment, ExifStream* out);
  void ReleaseAll();
  void ReleasePixelRoad();
  ExifResult OpenNewPixels(ExifImageFile* fresh, int64_t* imageStart);

  AppSegmentList segments_;
  std::map<uint32_t, std::unique_ptr<ExifTagEntry>> defaultTags_;
  std::vector<std::vector<uint8_t>> comments_;
  ExifResult openStatus_ = kExifOk;
  std::vector<uint8_t> iccProfile_;  // for the next WriteImage
  ExifJpegImage memberImage_;         // writes new pixels into the temporary file
  std::string tempName_;
  bool writtenThroughTemp_ = false;
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
