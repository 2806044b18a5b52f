// One TIFF image file directory inside a TIFF-structured segment: its
// entries by tag, its sub-directories (EXIF, GPS, interoperability ...),
// and for a thumbnail directory the thumbnail's data. Plus the path type
// that names a directory and the tag list that carries a picture's tags
// from one file to another.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "exif/ExifResult.h"
#include "exif/ExifStream.h"
#include "exif/ExifTagEntry.h"

struct TagPathStep {
  uint32_t tag = 0;
  uint16_t index = 0;
  bool operator==(const TagPathStep&) const = default;
};
using TagDirectoryPath = std::vector<TagPathStep>;

// Entries are borrowed from the directories of an open file.
struct DirectoryTags {
  TagDirectoryPath path;
  std::vector<ExifTagEntry*> entries;
};
using DirectoryTagList = std::vector<DirectoryTags>;

// Tags whose values are offsets of sub-directories, ascending.
inline constexpr uint32_t SubDirectoryTags[] = {330, 34665, 34853, 40965, 50030, 50031, 50843};
bool IsSubDirectoryTag(uint32_t tag);

// A decoded uncompressed thumbnail, 8 bits per sample, interleaved.
struct ThumbnailImage {
  struct Component {
    int sampleType = 6;
    int64_t sampleStride = 0;
    int64_t rowStride = 0;
    uint8_t* first = nullptr;
  };
  uint16_t components = 0;
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> pixels;
  Component comp[4];

  // components x width x height bytes; 14 when it cannot be allocated.
  ExifResult Allocate(int32_t w, int32_t h, uint16_t c);
};

// Pointers to the entries that describe a thumbnail's layout, each kept
// only while the entry has the value kind the bookkeeping expects.
struct StructureTagCache {
  enum Slot {
    kWidth, kLength, kPhotometric, kPlanar, kSamples, kRowsPerStrip, kCompression,
    kJpegOffset, kJpegLength, kSubsampling, kBitsPerSample, kStripOffsets, kStripByteCounts,
    kSlotCount
  };
  ExifTagEntry* slot[kSlotCount] = {};
  // Slot of a tag, or -1.
  static int SlotOf(uint32_t tag);
  void Refresh(uint32_t tag, ExifTagEntry* entry);
  // First value of a slot, or the fallback when the slot is empty.
  uint32_t First(Slot s, uint32_t fallback) const;
  bool Has(Slot s) const { return slot[s] != nullptr; }
};

// Limits that keep a hostile segment from costing unbounded time or memory.
struct DirectoryReadLimits {
  static constexpr int kMaxDepth = 8;                 // nesting of sub-directories
  static constexpr int kMaxDirectories = 512;         // per segment
  static constexpr int64_t kMaxValueBytes = 8 << 20;  // decoded values per segment
};

// State shared by every directory of one segment while it is read.
struct DirectoryReadState {
  std::map<int64_t, class TagDirectory*> offsets;  // directory position -> directory
  int directories = 0;
  int64_t valueBytes = 0;
};

class TagDirectory {
 public:
  TagDirectory(uint32_t ownTag, uint16_t index, int64_t position, int64_t base,
               DirectoryReadState* readState, TagDirectory* parent);
  ~TagDirectory();
  TagDirectory(const TagDirectory&) = delete;
  TagDirectory& operator=(const TagDirectory&) = delete;

  ExifResult Read(ExifStream* stream);
  // Appends the directory, its sub-directories and thumbnail data at the
  // end of the stream and patches its offset at pointerPos. Returns the
  // position of its next-directory field, or -1 when a write fell short.
  int64_t Write(ExifStream* stream, int64_t base, int64_t pointerPos);

  // Takes ownership; replaces an entry of the same tag. A pointer tag
  // creates its (empty) sub-directories from its values.
  void SetEntry(std::unique_ptr<ExifTagEntry> entry);
  bool RemoveEntry(uint32_t tag);
  ExifTagEntry* GetEntry(uint32_t tag) const;
  bool GetSubDirectories(uint32_t tag, std::vector<TagDirectory*>* out) const;
  // 1 when the directory's position was already read in this segment.
  ExifResult AddSubDirectory(std::unique_ptr<TagDirectory> dir);
  ExifResult AddSubDirectoryUnderTag(uint32_t tag);
  void CollectTags(DirectoryTagList* list, const TagDirectoryPath& path);
  void Clear();

  uint64_t RowBytes() const;
  uint32_t StripsPerImage() const;

  uint32_t OwnTag() const { return ownTag_; }
  uint16_t Index() const { return index_; }
  int64_t Position() const { return position_; }
  uint32_t NextOffset() const { return nextOffset_; }
  TagDirectory* Parent() const { return parent_; }
  const std::map<uint32_t, std::unique_ptr<ExifTagEntry>>& Entries() const { return entries_; }
  const std::map<uint32_t, std::vector<std::unique_ptr<TagDirectory>>>& SubDirectories() const {
    return subdirs_;
  }
  const ThumbnailImage* Thumbnail() const { return thumbnailImage_.get(); }
  const std::vector<uint8_t>& ThumbnailBytes() const { return thumbnailBytes_; }
  void SetThumbnailBytes(std::vector<uint8_t> bytes) { thumbnailBytes_ = std::move(bytes); }
  void SetThumbnailImage(std::unique_ptr<ThumbnailImage> img) { thumbnailImage_ = std::move(img); }
  // Forgets the thumbnail (used when a segment would not fit otherwise).
  void DropThumbnail();
  bool HasThumbnail() const { return thumbnailImage_ || !thumbnailBytes_.empty(); }
  // Describes a thumbnail (it has a compression and says where its data
  // lies) whose data is not here. A directory that never pointed at any
  // data (a compression and a resolution only, as some writers leave the
  // second directory) is kept as it is.
  bool IsThumbnailWithoutData() const {
    const bool pointsAtData =
        cache_.Has(StructureTagCache::kJpegOffset) || cache_.Has(StructureTagCache::kJpegLength) ||
        cache_.Has(StructureTagCache::kStripOffsets) || cache_.Has(StructureTagCache::kStripByteCounts);
    return cache_.Has(StructureTagCache::kCompression) && !HasThumbnail() && pointsAtData;
  }
  // A JPEG thumbnail given only by its offset and length, without a
  // Compression tag: some writers leave the tag out.
  bool IsUntypedJpegThumbnail() const {
    return !cache_.Has(StructureTagCache::kCompression) && cache_.Has(StructureTagCache::kJpegOffset) &&
           cache_.Has(StructureTagCache::kJpegLength);
  }
  // Forgets the read state of a finished read, here and below.
  void EndRead();

 private:
  int Depth() const;
  std::unique_ptr<ExifTagEntry> DecodeEntry(ExifStream* stream, const uint8_t raw[12]);
  void ReadThumbnail(ExifStream* stream);
  void ReadStripThumbnail(ExifStream* stream);
  void PrepareThumbnailForWrite(ExifStream* stream);
  bool WriteEntryValue(ExifStream* stream, const ExifTagEntry& e, uint8_t field[4], int64_t* valuePos);
  bool WriteStripThumbnail(ExifStream* stream, int64_t base);
  bool WriteJpegThumbnail(ExifStream* stream, int64_t base);
  void SetLongs(uint32_t tag, const std::vector<uint32_t>& values);

  std::unique_ptr<ThumbnailImage> thumbnailImage_;
  std::vector<uint8_t> thumbnailBytes_;
  int64_t position_ = 0;
  int64_t base_ = 0;
  int64_t entryCursor_ = 0, valueCursor_ = 0, endPosition_ = 0;
  uint32_t nextOffset_ = 0;
  int64_t writeBase_ = 0, pointerPos_ = 0;
  int64_t patch273_ = -1, patch279_ = -1, patch513_ = -1, patch514_ = -1;
  uint32_t ownTag_ = 0;
  uint16_t index_ = 0;
  std::map<uint32_t, std::unique_ptr<ExifTagEntry>> entries_;
  std::map<uint32_t, std::vector<std::unique_ptr<TagDirectory>>> subdirs_;
  DirectoryReadState* readState_ = nullptr;
  TagDirectory* parent_ = nullptr;
  StructureTagCache cache_;
};

// Finds p/q close to x (relative error within tolerance). 10 for values
// outside [3e-10, 4e10] (0 excepted) or a negative tolerance; p/q is then
// 0/1 for values below the range and 4294967295/1 for values above.
ExifResult DoubleToRational(double x, uint32_t* numerator, uint32_t* denominator, double tolerance);
