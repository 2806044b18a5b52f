// Walking the markers of a JPEG stream: the one place in the EXIF library
// that knows how start of image, fill bytes, markers and length fields are
// laid out. The open scan, the head check and the rewrite's search for the
// image data all walk with it, so they agree on where each segment is and
// where the image data starts.
#pragma once

#include <cstdint>

#include "exif/ExifResult.h"

class ExifStream;

inline bool IsAppMarker(uint8_t code) { return code >= 0xE0 && code <= 0xEF; }
inline bool IsAppOrCommentMarker(uint8_t code) { return IsAppMarker(code) || code == 0xFE; }
// Markers without a length field: RSTn, SOI, EOI and TEM.
inline bool IsStandaloneMarker(uint8_t code) { return (code >= 0xD0 && code <= 0xD9) || code == 0x01; }

struct JpegMarker {
  int64_t position = 0;  // of its 0xFF
  uint8_t code = 0;      // the byte after the 0xFF
  uint16_t length = 0;   // the length field (counting itself), once read
  int64_t BodyPosition() const { return position + 4; }
};

class JpegMarkerWalker {
 public:
  enum Step { kMarker, kNotMarker, kEnd };

  explicit JpegMarkerWalker(ExifStream* stream) : stream_(stream) {}

  // Reads the start-of-image marker at offset 0; the walk goes on behind
  // it. kExifReadFailed when the stream is shorter, kExifBadData when it
  // starts with anything else.
  ExifResult StartOfImage();
  // The marker at the current position, after any fill bytes (0xFF 0xFF).
  // kNotMarker when the byte there is not 0xFF (its position is given),
  // kEnd when fewer than two bytes are left.
  Step Next(JpegMarker* marker);
  // Reads the length field of a segment marker; the stream is then at the
  // segment's body. False when the field is cut off; a length below 2 is
  // the caller's to refuse.
  bool ReadLength(JpegMarker* marker);
  // Moves on behind the marker, and behind its segment when it has one.
  void Pass(const JpegMarker& marker);
  // Moves to the next 0xFF followed by a marker code (0xC0 to 0xFE) at or
  // after `from`. False when there is none before the end.
  bool FindNextMarker(int64_t from);

  int64_t Position() const { return position_; }

 private:
  ExifStream* stream_;
  int64_t position_ = 0;
};
