// The application segments (APP0..APP15) of a JPEG file. Every segment is
// kept raw (its bytes as read) until somebody asks for it parsed; JFIF APP0
// and the TIFF-structured APP1 "Exif" / APP3 "Meta" segments then become
// typed objects that are written back from their fields.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "exif/ExifResult.h"
#include "exif/ExifStream.h"
#include "exif/TagDirectory.h"

class ExifAppSegment {
 public:
  ExifAppSegment(uint16_t marker, std::string identifier);
  virtual ~ExifAppSegment() = default;

  virtual std::unique_ptr<ExifAppSegment> Clone() const = 0;
  virtual bool HasPaddedIdentifier() const { return false; }
  virtual bool IsRaw() const { return false; }
  // Records length and data offset; the base reads nothing.
  virtual ExifResult Read(ExifStream* stream, uint16_t length, int64_t dataOffset);
  virtual ExifResult Write(ExifStream* stream) = 0;
  virtual void EnterByteOrder(ExifStream* stream);
  virtual void LeaveByteOrder(ExifStream* stream);

  uint16_t Marker() const { return marker_; }
  uint16_t Length() const { return length_; }
  int64_t DataOffset() const { return dataOffset_; }
  const std::string& Identifier() const { return identifier_; }

 protected:
  ExifAppSegment(const ExifAppSegment&) = default;

  int64_t dataOffset_ = 0;
  int64_t lengthFieldPos_ = 0;
  uint16_t marker_;
  uint16_t length_ = 0;
  uint32_t savedFlags_ = 0;
  bool savedBigEndian_ = false;
  uint32_t ownFlags_ = 0;
  bool ownBigEndian_ = false;
  std::string identifier_;
};

// JFIF APP0: version, units, densities; the thumbnail is dropped.
class ExifApp0Seg final : public ExifAppSegment {
 public:
  explicit ExifApp0Seg(std::string identifier);
  std::unique_ptr<ExifAppSegment> Clone() const override;
  ExifResult Read(ExifStream* stream, uint16_t length, int64_t dataOffset) override;
  ExifResult Write(ExifStream* stream) override;
  void EnterByteOrder(ExifStream* stream) override;

  uint16_t version = 0;
  uint8_t units = 0;
  uint16_t xDensity = 1;
  uint16_t yDensity = 1;
  uint8_t thumbWidth = 0;
  uint8_t thumbHeight = 0;
};

// Any segment as read: length field, identifier and body, written back
// byte for byte.
class ExifRawAppSeg final : public ExifAppSegment {
 public:
  ExifRawAppSeg(uint16_t marker, std::string identifier) : ExifAppSegment(marker, std::move(identifier)) {}
  std::unique_ptr<ExifAppSegment> Clone() const override;
  bool IsRaw() const override { return true; }
  // The stream stands at the marker.
  ExifResult Read(ExifStream* stream, uint16_t length, int64_t dataOffset) override;
  ExifResult Write(ExifStream* stream) override;
  std::vector<uint8_t>& Bytes() { return bytes_; }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// The colour space an ICC profile describes ("RGB ", "GRAY", "CMYK" ...),
// read from the header at the start of an APP2 "ICC_PROFILE" segment's
// first chunk; empty for any other segment or chunk.
std::string IccProfileColourSpace(const ExifAppSegment& segment);

// A TIFF structure inside a segment: header and the chain of top-level
// directories (main directory, thumbnail directory, ...).
class ExifTiffAppSeg final : public ExifAppSegment {
 public:
  ExifTiffAppSeg(uint16_t marker, std::string identifier);
  ~ExifTiffAppSeg() override;
  std::unique_ptr<ExifAppSegment> Clone() const override;
  bool HasPaddedIdentifier() const override { return true; }
  // The stream stands at the TIFF header.
  ExifResult Read(ExifStream* stream, uint16_t length, int64_t dataOffset) override;
  // 3 when a write fell short.
  ExifResult Write(ExifStream* stream) override;

  // A segment made for a file that has none: "II", 42, no directories.
  void InitDefaultHeader();
  // The byte order the segment is written in ("MM" when big): tags carried
  // from another picture keep that picture's order, so that values stored
  // as plain bytes (a UCS-2 UserComment, a maker note) stay readable.
  void SetBigEndian(bool big);
  bool IsBigEndian() const { return byteOrderMark == 0x4D4D; }

  TagDirectory* FindDirectory(const TagDirectoryPath& path) const;
  ExifResult CreateDirectoryPath(const TagDirectoryPath& path);
  TagDirectory* AddTopDirectory();
  ExifResult ApplyTagList(const DirectoryTagList& list);
  const std::vector<std::unique_ptr<TagDirectory>>& Directories() const { return directories_; }
  void DropThumbnails();
  // Made by the library rather than read from a file.
  bool IsNew() const { return isNew_; }

  uint16_t byteOrderMark = 0x4949;
  uint16_t magic = 42;
  uint32_t firstOffset = 0;

 private:
  void ApplyByteOrderMark(ExifStream* stream);
  void ReadDirectoryChain(ExifStream* stream);

  std::vector<std::unique_ptr<TagDirectory>> directories_;
  bool isNew_ = false;
};

// Typed segment for a marker and identifier, or null (stays raw).
std::unique_ptr<ExifAppSegment> CreateAppSegment(uint16_t marker, const std::string& identifier);
// Key: four upper-case hex digits of the marker followed by the identifier.
std::unique_ptr<ExifAppSegment> ParseSegmentKey(const std::string& key);

// The APPn segments of one file, ordered by marker (stable for equal ones).
class AppSegmentList {
 public:
  struct Node {
    std::unique_ptr<ExifAppSegment> segment;
    bool parsed = false;
  };

  void Insert(std::unique_ptr<ExifAppSegment> segment);
  // First segment after `after` (null: from the start) with that marker and
  // exactly that identifier; parsed into its typed class when asked.
  ExifAppSegment* FindSegment(const Node* after, uint16_t marker, const std::string& identifier, bool parse);
  ExifAppSegment* ParseSegment(Node* node);
  std::vector<ExifAppSegment*> Segments() const;
  void Clear() { nodes_.clear(); }
  // Drops every segment with that marker and identifier.
  void Remove(uint16_t marker, const std::string& identifier);
  // Moves every segment of other into this list.
  void TakeAll(AppSegmentList* other);
  bool Empty() const { return nodes_.empty(); }

 private:
  std::list<Node> nodes_;
};
