// Byte sources and sinks of the EXIF library: the JPEG file itself and
// memory buffers holding one segment or one thumbnail. Every byte the
// library reads or writes goes through an ExifStream, which also carries
// the byte order of the data currently being read or written.
//
// Positions, sizes and counts are 64-bit so that no offset taken from a
// file can wrap around.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "exif/ExifResult.h"

class ExifStream;

// Byte-level I/O owned by a stream.
class ExifHandleIO {
 public:
  explicit ExifHandleIO(ExifStream* owner) : owner_(owner) {}
  virtual ~ExifHandleIO() = default;
  ExifHandleIO(const ExifHandleIO&) = delete;
  ExifHandleIO& operator=(const ExifHandleIO&) = delete;

  // Bytes transferred: the count when all of it moved; a file answers 0
  // otherwise, a memory buffer -1 (and moves nothing).
  virtual int64_t Read(void* dst, int64_t count) = 0;
  virtual int64_t Write(const void* src, int64_t count) = 0;
  // origin 0 = start, 1 = current, 2 = end; the new position or -1.
  virtual int64_t Seek(int64_t offset, int origin) = 0;
  virtual int64_t Size() = 0;
  virtual ExifResult Close() = 0;
  virtual uint8_t* Buffer() { return nullptr; }
  virtual int64_t Capacity() { return 0; }

 protected:
  ExifStream* owner_;
};

// Works on whatever FILE the owning stream holds at the time of the call.
class ExifFileIO final : public ExifHandleIO {
 public:
  ExifFileIO(ExifStream* owner, FILE** file) : ExifHandleIO(owner), file_(file) {}
  int64_t Read(void* dst, int64_t count) override;
  int64_t Write(const void* src, int64_t count) override;
  int64_t Seek(int64_t offset, int origin) override;
  int64_t Size() override;
  ExifResult Close() override;

 private:
  FILE** file_;
};

// A caller's buffer; never freed here. Transfers are all or nothing and
// the position never moves past the valid data.
class ExifMemoryIO final : public ExifHandleIO {
 public:
  ExifMemoryIO(ExifStream* owner, uint8_t* buffer, int64_t capacity, int64_t size)
      : ExifHandleIO(owner), buffer_(buffer), capacity_(capacity), size_(size) {}
  int64_t Read(void* dst, int64_t count) override;
  int64_t Write(const void* src, int64_t count) override;
  int64_t Seek(int64_t offset, int origin) override;
  int64_t Size() override { return size_; }
  ExifResult Close() override { return kExifOk; }
  uint8_t* Buffer() override { return buffer_; }
  int64_t Capacity() override { return capacity_; }

 private:
  uint8_t* buffer_;
  int64_t capacity_;
  int64_t size_;
  int64_t position_ = 0;
};

class ExifStream {
 public:
  // Flag bits.
  static constexpr uint32_t kFillOrderMask = 0x3;
  static constexpr uint32_t kFillMsbFirst = 0x1;
  static constexpr uint32_t kFillLsbFirst = 0x2;
  static constexpr uint32_t kStripsPrepared = 0x40;
  static constexpr uint32_t kSwap = 0x80;
  static constexpr uint32_t kMemory = 0x800;
  // Mode codes; callers test them by bits (kModeEditBit, kModeNewBit).
  static constexpr uint32_t kModeRead = 0;
  static constexpr uint32_t kModeEdit = 2;
  static constexpr uint32_t kModeNew = 0x301;
  static constexpr uint32_t kModeEditBit = 0x2;
  static constexpr uint32_t kModeNewBit = 0x100;

  // Opens a file by name: "r" reads, "r+" edits an existing file, "w"
  // creates. Status 9 for a bad mode text, 7 when fopen fails.
  static std::unique_ptr<ExifStream> Open(ExifResult* status, const std::string& name,
                                          const char* mode);
  // Takes over an already open FILE (used for the replacement file of a
  // rewrite). Mode as for Open; a bad mode gives null.
  static std::unique_ptr<ExifStream> Adopt(FILE* file, const std::string& name, const char* mode);

  // Memory stream over a caller's buffer. size -1 means "capacity", for
  // "w" it means 0. A bad mode leaves the stream without an I/O object.
  ExifStream(ExifResult* status, uint8_t* buffer, int64_t capacity, const char* mode,
             int64_t size = -1);
  ~ExifStream();
  ExifStream(const ExifStream&) = delete;
  ExifStream& operator=(const ExifStream&) = delete;

  ExifHandleIO* IO() const { return io_.get(); }
  uint32_t Flags() const { return flags_; }
  void SetFlags(uint32_t f) { flags_ = f; }
  bool BigEndian() const { return bigEndian_; }
  void SetBigEndian(bool b) { bigEndian_ = b; }
  bool Swapped() const { return (flags_ & kSwap) != 0; }
  // Sets both the big-endian flag and the swap flag (this machine is
  // little-endian, so big-endian data needs swapping).
  void SetByteOrder(bool bigEndian);
  const std::string& Name() const { return name_; }
  uint32_t Mode() const { return mode_; }
  const std::string& ModeText() const { return modeText_; }
  FILE* File() const { return file_; }
  // Hands the FILE back to the caller, who closes it; the stream is then spent.
  FILE* DetachFile() {
    FILE* f = file_;
    file_ = nullptr;
    return f;
  }

  // Reverses the bytes of each 8-byte value when the swap flag is set.
  void SwapDoubles(double* values, size_t n) const;

  // Convenience over the I/O object. Multi-byte values follow the swap flag.
  int64_t Tell() const;
  int64_t SizeOf() const;
  bool SeekTo(int64_t position);  // true when the position was reached exactly
  int64_t SeekEnd();
  bool ReadBytes(void* dst, int64_t count);
  bool WriteBytes(const void* src, int64_t count);
  bool ReadU16(uint16_t* v);
  bool ReadU32(uint32_t* v);
  bool WriteU16(uint16_t v);
  bool WriteU32(uint32_t v);
  uint16_t Order16(uint16_t v) const;
  uint32_t Order32(uint32_t v) const;

  // Parses a mode text into its canonical form ("r", "r+", "w") and code;
  // false for a text the library does not accept.
  static bool ParseMode(const char* mode, std::string* canonical, uint32_t* code);

 private:
  ExifStream() = default;

  std::unique_ptr<ExifHandleIO> io_;
  uint32_t flags_ = 0;
  std::string name_;
  uint32_t mode_ = 0;
  std::string modeText_;
  bool bigEndian_ = false;
  FILE* file_ = nullptr;
};
