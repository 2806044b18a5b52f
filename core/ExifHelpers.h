// Carrying metadata over to a newly written JPEG picture: the one road by
// which the tools copy EXIF tags (the cloning, resizing and conversion
// tools all use it), and stamping a picture with a shooting time taken from
// a file's last modification.
//
// Tags are read into a DirectoryTagList that points into the open source
// file, then applied to the new file, which is rewritten in place only
// after the whole new content was written. Every directory is addressed by
// its place in the segment, as the EXIF library looks directories up.
#pragma once

#include <memory>
#include <string>

#include "exif/TagDirectory.h"

class ExifImageFile;

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

// Writes the tag list into the JPEG file `destination` (its APP1 "Exif"
// segment is created when missing). True when the tags were applied and
// the file was written back; on failure the file is left as it was.
bool RestoreExifTags(const std::wstring& destination, const DirectoryTagList& tags);

// Copies every tag of source's APP1 "Exif" segment (all directories) into
// target's, which is created when missing. Both must be JPEG files by
// name. False on any failure, and then the target is left as it was.
bool CloneExifTags(const std::wstring& source, const std::wstring& target);

// Writes the local-time last modification of `source` as the target's
// DateTimeOriginal ("YYYY:MM:DD hh:mm:ss"). The target must be a JPEG file
// by name; a year outside 1000-9999 cannot be written in that form and is
// refused. True when the tag was written and the file saved.
bool WriteShootingTime(const std::wstring& source, const std::wstring& target);
