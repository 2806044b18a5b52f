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

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "exif/TagDirectory.h"

class ExifApp0Seg;
class ExifAppSegment;
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
  // True when the file has an EXIF segment but not one tag could be read
  // from it (a damaged header or main directory): unlike a file without
  // EXIF, such a file has tags that would be lost.
  bool Unreadable() const { return unreadable_; }
  const DirectoryTagList& Tags() const { return tags_; }
  // The number of tags in the list, over every directory.
  size_t TagCount() const;
  // The byte order of the file's EXIF segment ("MM": true).
  bool BigEndian() const { return bigEndian_; }
  // The file's EXIF thumbnail as stored (a small JPEG); empty when none.
  std::vector<uint8_t> ThumbnailBytes() const;
  // The file's colour profile (APP2 "ICC_PROFILE", every chunk), XMP
  // packets (APP1) and IPTC block (APP13 "Photoshop 3.0"), as stored; empty
  // when it has none.
  std::vector<const ExifAppSegment*> ProfileSegments() const;
  // The file's JFIF header; null when it has none.
  const ExifApp0Seg* Jfif() const;

 private:
  std::unique_ptr<ExifImageFile> file_;
  DirectoryTagList tags_;
  bool opened_ = false;
  bool unreadable_ = false;
  bool bigEndian_ = false;
};

// Writes the tag list into the JPEG file `destination` (its APP1 "Exif"
// segment is created when missing). True when the tags were applied and
// the file was written back; on failure the file is left as it was.
bool RestoreExifTags(const std::wstring& destination, const DirectoryTagList& tags);

// What a newly written JPEG `target` takes over. Its own EXIF segment is
// replaced by one that holds exactly the tags of `tags`, in their byte
// order (none: the EXIF block is gone); the thumbnail of `tags`' file goes
// along only when `keepThumbnail` (the new picture still shows what it
// shows); the colour profile, XMP and IPTC segments of `profileFrom`
// replace the target's own (null: the target keeps its own). A colour
// profile goes along only while its colour space matches the components
// the target has (a CMYK profile on a 3-component picture would be false).
// The JFIF density agrees with the EXIF resolution carried; without one it
// is `profileFrom`'s density (or none, only an aspect ratio of 1:1). The
// image data stays byte for byte. `upright`: the target's pixels were
// turned as the picture is shown, so a carried Orientation says 1 (the
// source's value would turn them a second time). True when the file was
// written back; on failure it is left as it was.
bool CarryJpegMetadata(const std::wstring& target, const ExifTagSource* tags, bool keepThumbnail,
                       const ExifTagSource* profileFrom, bool upright = false);

// Copies every tag of source's APP1 "Exif" segment (all directories) into
// target's, which is created when missing. Both must be JPEG files by
// name. False on any failure, and then the target is left as it was.
bool CloneExifTags(const std::wstring& source, const std::wstring& target);

// Writes the local-time last modification of `source` as the target's
// DateTimeOriginal ("YYYY:MM:DD hh:mm:ss"). The target must be a JPEG file
// by name; a year outside 1000-9999 cannot be written in that form and is
// refused. True when the tag was written and the file saved.
bool WriteShootingTime(const std::wstring& source, const std::wstring& target);

// Writes `text` ("YYYY:MM:DD hh:mm:ss", as a picture's EXIF states it) as
// the JPEG target's DateTimeOriginal. True when written and saved.
bool WriteShootingTimeText(const std::wstring& target, const std::string& text);
