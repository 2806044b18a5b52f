// A buffered, bounded reader over a PxFile for the formats we parse
// ourselves (PNM, PGX, Sun raster): single bytes for headers and text,
// blocks for raw rows, and how many bytes the file still holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "imagelib/PxFile.h"

namespace jas {

class ByteReader {
 public:
  explicit ByteReader(PxFile* file) : file_(file) {
    const int32_t start = file->Position();
    const int32_t total = file->TotalSize();
    left_ = (start >= 0 && total > start) ? static_cast<uint64_t>(total - start) : 0;
  }

  // The next byte, or -1 at the end.
  int Get() {
    if (pos_ == len_ && !Fill()) return -1;
    if (left_ > 0) --left_;
    return buffer_[pos_++];
  }
  int Peek() {
    if (pos_ == len_ && !Fill()) return -1;
    return buffer_[pos_];
  }
  // Reads exactly `n` bytes; false when the file ends first.
  bool Read(uint8_t* out, size_t n) {
    while (n > 0) {
      if (pos_ == len_ && !Fill()) return false;
      const size_t take = n < len_ - pos_ ? n : len_ - pos_;
      std::memcpy(out, buffer_ + pos_, take);
      pos_ += take;
      left_ = left_ > take ? left_ - take : 0;
      out += take;
      n -= take;
    }
    return true;
  }
  // Bytes the file holds beyond what has been read.
  uint64_t Left() const { return left_; }

 private:
  bool Fill() {
    if (left_ == 0) return false;
    len_ = file_->ReadBlock(buffer_, 1, sizeof buffer_);
    pos_ = 0;
    if (len_ == 0) left_ = 0;
    return len_ > 0;
  }

  PxFile* file_;
  uint8_t buffer_[16384];
  size_t pos_ = 0, len_ = 0;
  uint64_t left_ = 0;
};

}  // namespace jas
