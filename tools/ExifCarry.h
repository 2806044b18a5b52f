// Carrying a JPEG picture's EXIF tags over to a newly written JPEG: the
// tags are read into a DirectoryTagList that points into the open source
// file, then applied to the new file, which is rewritten in place only
// after the whole new content was written.
#pragma once

#include <memory>
#include <string>

#include "exif/ExifImageFile.h"
#include "exif/TagDirectory.h"

// The tags of one JPEG file's APP1 "Exif" segment, every top-level directory
// with its sub-directories. The list borrows its entries from the file,
// which this object keeps open for as long as it lives.
class ExifTagSource {
 public:
  // Reads the tags of `path`; any failure leaves the list empty.
  explicit ExifTagSource(const std::wstring& path);
  ~ExifTagSource();
  ExifTagSource(const ExifTagSource&) = delete;
  ExifTagSource& operator=(const ExifTagSource&) = delete;

  // True when the file opened as a JPEG and its tags were read (a file
  // without an EXIF segment reads as an empty list).
  bool Opened() const { return opened_; }
  const DirectoryTagList& Tags() const { return tags_; }

 private:
  std::unique_ptr<ExifImageFile> file_;
  DirectoryTagList tags_;
  bool opened_ = false;
};

// Writes the tag list into the JPEG file `destination`. True when the tags
// were applied and the file was written back; on failure the file is left
// as it was.
bool RestoreExifTags(const std::wstring& destination, const DirectoryTagList& tags);
