#include "exif/ExifOpenFile.h"

ExifResult ExifOpenFile::Close() {
  stream_.reset();
  return kExifOk;
}

ExifResult ExifOpenFile::Open(const std::string& name, const char* mode) {
  ownsStream_ = true;
  ExifResult status = kExifOk;
  stream_ = ExifStream::Open(&status, name, mode);
  if (!stream_) return status;
  name_ = name;
  return OpenImage(mode);
}

ExifResult ExifOpenFile::OpenMemory(uint8_t* buffer, int64_t capacity, int64_t size, const char* mode) {
  ownsStream_ = true;
  ExifResult status = kExifOk;
  auto stream = std::make_unique<ExifStream>(&status, buffer, capacity, mode, size);
  if (status != kExifOk || stream->IO() == nullptr) return status != kExifOk ? status : kExifBadMode;
  stream_ = std::move(stream);
  name_.clear();
  return OpenImage(mode);
}
