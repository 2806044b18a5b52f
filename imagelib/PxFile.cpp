#include "imagelib/PxFile.h"

#include <climits>
#include <cstdlib>
#include <cstring>

// ---------------------------------------------------------------- PxFile

bool PxFile::PutByte(uint8_t byte) { return WriteBlock(&byte, 1, 1) == 1; }

// ---------------------------------------------------------------- PxIOFile

PxIOFile::PxIOFile(FILE* stream) : stream_(stream), ownsStream_(stream == nullptr) {}

PxIOFile::~PxIOFile() {
  if (stream_ && ownsStream_) std::fclose(stream_);
}

bool PxIOFile::Open(const char* path, const char* mode) {
  if (!ownsStream_ || stream_ || !path || !*path) return false;
  stream_ = std::fopen(path, mode);
  return stream_ != nullptr;
}

bool PxIOFile::CloseFile() {
  if (!stream_ || !ownsStream_) return true;
  int rc = std::fclose(stream_);
  stream_ = nullptr;
  return rc == 0;
}

size_t PxIOFile::ReadBlock(void* buffer, size_t size, size_t count) {
  if (!stream_ || !buffer) return 0;
  return std::fread(buffer, size, count, stream_);
}

size_t PxIOFile::WriteBlock(const void* buffer, size_t size, size_t count) {
  if (!stream_ || !buffer) return 0;
  return std::fwrite(buffer, size, count, stream_);
}

bool PxIOFile::SeekTo(int32_t offset, int origin) {
  if (!stream_) return false;
  return std::fseek(stream_, offset, origin) == 0;
}

// Offsets are 32-bit in this library; a stream beyond that reads as an error.
static int32_t ClampOffset(long v) { return (v < 0 || v > INT32_MAX) ? -1 : static_cast<int32_t>(v); }

int32_t PxIOFile::Position() {
  if (!stream_) return 0;
  return ClampOffset(std::ftell(stream_));
}

int32_t PxIOFile::TotalSize() {
  if (!stream_) return -1;
  long here = std::ftell(stream_);
  if (here < 0) return -1;
  std::fseek(stream_, 0, SEEK_END);
  long size = std::ftell(stream_);
  std::fseek(stream_, here, SEEK_SET);
  return ClampOffset(size);
}

bool PxIOFile::FlushFile() { return stream_ && std::fflush(stream_) == 0; }
bool PxIOFile::AtEnd() { return !stream_ || std::feof(stream_) != 0; }
int32_t PxIOFile::ErrorState() { return stream_ ? std::ferror(stream_) : -1; }

bool PxIOFile::PutByte(uint8_t byte) { return stream_ && std::fputc(byte, stream_) == byte; }
int32_t PxIOFile::GetByte() { return stream_ ? std::fgetc(stream_) : -1; }

char* PxIOFile::ReadLine(char* buffer, int32_t maximum) {
  if (!stream_ || !buffer || maximum <= 0) return nullptr;
  return std::fgets(buffer, maximum, stream_);
}

int32_t PxIOFile::ScanFormatted(const char* format, void* output) {
  if (!stream_ || !format) return -1;
  return std::fscanf(stream_, format, output);
}

// ---------------------------------------------------------------- PxMemFile

namespace {
// Largest amount of data a memory file may hold: positions and sizes are
// signed 32-bit, and the capacity is rounded up to the next 64 KiB above.
constexpr uint64_t kMemFileMax = 0x7FFF0000u;
}  // namespace

PxMemFile::PxMemFile(uint8_t* buffer, int32_t size)
    : buffer_(buffer),
      dataSize_(buffer ? (size > 0 ? size : 0) : 0),
      ownsBuffer_(buffer == nullptr),
      position_(0),
      capacity_(static_cast<uint32_t>(buffer ? (size > 0 ? size : 0) : 0)),
      endReached_(false) {}

PxMemFile::~PxMemFile() {
  if (buffer_ && ownsBuffer_) std::free(buffer_);
}

bool PxMemFile::Open() {
  if (buffer_) return true;
  position_ = 0;
  dataSize_ = 0;
  capacity_ = 0;
  buffer_ = static_cast<uint8_t*>(std::malloc(1));
  ownsBuffer_ = true;
  return buffer_ != nullptr;
}

void PxMemFile::DropBuffer() {
  if (buffer_ && ownsBuffer_) std::free(buffer_);
  buffer_ = nullptr;
  dataSize_ = 0;
  capacity_ = 0;
}

bool PxMemFile::CloseFile() {
  if (buffer_ && ownsBuffer_) {
    std::free(buffer_);
    buffer_ = nullptr;
    dataSize_ = 0;
  }
  return true;
}

// Grows to the next multiple of 64 KiB strictly above the needed size, and
// at least to twice the old capacity: a picture written to memory a row at a
// time would otherwise be copied once per 64 KiB, quadratic in its size. A
// caller's buffer is never reallocated: it may not even come from malloc, so
// its bytes move into a new block of our own.
bool PxMemFile::Grow(uint64_t needed) {
  if (needed <= capacity_) return buffer_ != nullptr;
  if (needed > kMemFileMax) {
    DropBuffer();
    return false;
  }
  uint64_t wanted = (needed & ~uint64_t{0xFFFF}) + 0x10000;
  const uint64_t doubled = uint64_t{capacity_} * 2;
  if (doubled > wanted) wanted = doubled;
  if (wanted > kMemFileMax) wanted = kMemFileMax;
  const uint32_t newCapacity = static_cast<uint32_t>(wanted);
  uint8_t* grown = nullptr;
  if (ownsBuffer_) {
    grown = static_cast<uint8_t*>(std::realloc(buffer_, newCapacity));
  } else {
    grown = static_cast<uint8_t*>(std::malloc(newCapacity));
    if (grown && buffer_ && dataSize_ > 0) std::memcpy(grown, buffer_, static_cast<size_t>(dataSize_));
  }
  if (!grown) {
    DropBuffer();
    return false;
  }
  buffer_ = grown;
  ownsBuffer_ = true;
  capacity_ = newCapacity;
  return true;
}

// A write after a seek past the end leaves a gap between the old end and
// the write; it reads as zeros, as in a file, not as whatever the
// allocator left there (which would end up in the written file).
void PxMemFile::ZeroGap() {
  if (position_ > dataSize_) {
    std::memset(buffer_ + dataSize_, 0, static_cast<size_t>(position_ - dataSize_));
    dataSize_ = position_;
  }
}

size_t PxMemFile::ReadBlock(void* destination, size_t size, size_t count) {
  if (!destination || !buffer_) return 0;
  if (position_ >= dataSize_) {
    endReached_ = true;
    return 0;
  }
  if (size == 0 || count == 0) return 0;
  size_t left = static_cast<size_t>(dataSize_ - position_);
  size_t wanted;
  if (__builtin_mul_overflow(size, count, &wanted) || wanted > left) {
    endReached_ = true;
    wanted = left;
  }
  std::memcpy(destination, buffer_ + position_, wanted);
  position_ += static_cast<int32_t>(wanted);
  return wanted / size;
}

size_t PxMemFile::WriteBlock(const void* source, size_t size, size_t count) {
  endReached_ = false;
  if (!buffer_ || !source) return 0;
  size_t bytes;
  if (__builtin_mul_overflow(size, count, &bytes) || bytes > kMemFileMax) return 0;
  if (bytes == 0) return 0;
  uint64_t end = static_cast<uint64_t>(position_) + bytes;
  if (!Grow(end)) return 0;
  ZeroGap();
  std::memcpy(buffer_ + position_, source, bytes);
  position_ = static_cast<int32_t>(end);
  if (dataSize_ < position_) dataSize_ = position_;
  return count;
}

bool PxMemFile::PutByte(uint8_t byte) {
  endReached_ = false;
  if (!buffer_) return false;
  if (static_cast<uint32_t>(position_) >= capacity_ && !Grow(static_cast<uint64_t>(position_) + 1)) return false;
  ZeroGap();
  buffer_[position_++] = byte;
  if (dataSize_ < position_) dataSize_ = position_;
  return true;
}

int32_t PxMemFile::GetByte() {
  if (buffer_ && position_ < dataSize_) return buffer_[position_++];
  endReached_ = true;
  return -1;
}

bool PxMemFile::SeekTo(int32_t offset, int origin) {
  endReached_ = false;
  if (!buffer_) return false;
  int64_t target;
  switch (origin) {
    case 0: target = offset; break;
    case 1: target = int64_t{position_} + offset; break;
    case 2: target = int64_t{dataSize_} + offset; break;
    default: return false;
  }
  if (target < 0) target = 0;
  if (target > static_cast<int64_t>(kMemFileMax)) return false;  // would overflow the position
  position_ = static_cast<int32_t>(target);
  return true;
}

int32_t PxMemFile::Position() { return buffer_ ? position_ : -1; }
int32_t PxMemFile::TotalSize() { return buffer_ ? dataSize_ : -1; }
bool PxMemFile::FlushFile() { return buffer_ != nullptr; }
bool PxMemFile::AtEnd() { return buffer_ ? endReached_ : true; }
int32_t PxMemFile::ErrorState() {
  if (!buffer_) return -1;
  return dataSize_ < position_ ? 1 : 0;
}

char* PxMemFile::ReadLine(char* buffer, int32_t maximum) {
  if (!buffer || maximum <= 0) return nullptr;
  int32_t stored = 0;
  while (stored < maximum - 1) {
    int32_t c = GetByte();
    if (c < 0) return nullptr;
    buffer[stored++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buffer[stored] = '\0';
  return buffer;
}

int32_t PxMemFile::ScanFormatted(const char*, void*) { return 0; }

// ---------------------------------------------------------------- adapters

size_t PxFileReadProc(void* file, void* buffer, size_t size, size_t count) {
  return file ? static_cast<PxFile*>(file)->ReadBlock(buffer, size, count) : 0;
}

int PxFileSeekProc(void* file, int32_t offset, int origin) {
  return (file && static_cast<PxFile*>(file)->SeekTo(offset, origin)) ? 1 : 0;
}
