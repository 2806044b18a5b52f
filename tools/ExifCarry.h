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

// Puts a DateTimeOriginal text ("YYYY:MM:DD hh:mm:ss") into the EXIF
// directory of the JPEG file `destination`; false, with the file as it was,
// on failure.
bool PutShootingTime(const std::wstring& destination, const std::string& dateTime);

// The EXIF date form of a file time in local time: "%d:%02d:%02d %02d:%02d:%02d".
std::string ExifDateText(const timespec& time);

// Every tag of the JPEG file `source`'s APP1 "Exif" segment put into the
// JPEG file `target`'s (created there when missing). False unless both
// names end in ".jpg" or ".jpeg" and both files open; a source without an
// EXIF segment applies an empty list.
bool CloneExifTags(const std::wstring& source, const std::wstring& target);

// DateTimeOriginal of the JPEG file `target` set from the last modification
// time of `source`, in local time. False when the target is not a JPEG
// name, the source's time cannot be read or the tag cannot be written.
bool WriteShootingTime(const std::wstring& source, const std::wstring& target);
