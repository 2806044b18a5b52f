// The root of the library's file objects: a stream (by name or over a
// caller's buffer) and the image opened on it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "exif/ExifResult.h"
#include "exif/ExifStream.h"

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
  // The same over a caller's buffer, which stays the caller's: size bytes
  // of data ("r", "r+") or room for capacity bytes ("w").
  ExifResult OpenMemory(uint8_t* buffer, int64_t capacity, int64_t size, const char* mode);

  ExifStream* Stream() const { return stream_.get(); }
  const std::string& Name() const { return name_; }

 protected:
  std::unique_ptr<ExifStream> stream_;
  bool ownsStream_ = false;
  std::string name_;
};
