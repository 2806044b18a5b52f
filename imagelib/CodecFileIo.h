// Small checked reads and writes the format classes share: a read either
// fills the whole buffer or fails, a write either writes every byte or
// fails, and a writer finishes with a flush whose failure (a full disk)
// counts as a failed write.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imagelib/PxFile.h"

namespace pxio {

inline bool ReadExactly(PxFile* file, void* buffer, size_t bytes) {
  return bytes == 0 || file->ReadBlock(buffer, 1, bytes) == bytes;
}

inline bool WriteExactly(PxFile* file, const void* buffer, size_t bytes) {
  return bytes == 0 || file->WriteBlock(buffer, 1, bytes) == bytes;
}

// Moves forward by `bytes`; false when that cannot be done.
inline bool Skip(PxFile* file, uint64_t bytes) {
  if (bytes == 0) return true;
  if (bytes > INT32_MAX) return false;
  return file->SeekTo(static_cast<int32_t>(bytes), 1);
}

// A stream accepts a small picture into its buffer without complaint; a
// full disk shows only when the buffer goes out.
inline bool Flushed(PxFile* file) { return file->FlushFile() && file->ErrorState() == 0; }

// Bytes between the position and the end, or -1 when the file cannot tell
// (a reader then relies on its checked reads alone).
inline int64_t BytesLeft(PxFile* file) {
  const int64_t total = file->TotalSize();
  const int64_t at = file->Position();
  if (total < 0 || at < 0) return -1;
  return at >= total ? 0 : total - at;
}

}  // namespace pxio
