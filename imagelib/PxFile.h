// The image library's file abstraction: every byte an image reader or writer
// moves goes through a PxFile. PxIOFile wraps a C stream, PxMemFile a
// growable memory buffer. No operation throws; failures are results.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

class PxFile {
 public:
  virtual ~PxFile() = default;
  virtual bool CloseFile() = 0;
  // Number of whole elements read or written.
  virtual size_t ReadBlock(void* buffer, size_t size, size_t count) = 0;
  virtual size_t WriteBlock(const void* buffer, size_t size, size_t count) = 0;
  // origin: 0 from the start, 1 from the current position, 2 from the end.
  virtual bool SeekTo(int32_t offset, int origin) = 0;
  virtual int32_t Position() = 0;
  virtual int32_t TotalSize() = 0;
  virtual bool FlushFile() = 0;
  virtual bool AtEnd() = 0;
  virtual int32_t ErrorState() = 0;
  virtual bool PutByte(uint8_t byte);
  virtual int32_t GetByte() = 0;  // 0..255, or -1
  virtual char* ReadLine(char* buffer, int32_t maximum) = 0;
  virtual int32_t ScanFormatted(const char* format, void* output) = 0;
};

class PxIOFile : public PxFile {
 public:
  // A stream handed in is never closed by this object; without one the
  // object owns whatever stream is attached later through Attach.
  explicit PxIOFile(FILE* stream = nullptr);
  ~PxIOFile() override;
  PxIOFile(const PxIOFile&) = delete;
  PxIOFile& operator=(const PxIOFile&) = delete;

  // Opens a file by narrow path and owns it; false when it cannot be opened.
  bool Open(const char* path, const char* mode);

  bool CloseFile() override;
  size_t ReadBlock(void* buffer, size_t size, size_t count) override;
  size_t WriteBlock(const void* buffer, size_t size, size_t count) override;
  bool SeekTo(int32_t offset, int origin) override;
  int32_t Position() override;
  int32_t TotalSize() override;
  bool FlushFile() override;
  bool AtEnd() override;
  int32_t ErrorState() override;
  bool PutByte(uint8_t byte) override;
  int32_t GetByte() override;
  char* ReadLine(char* buffer, int32_t maximum) override;
  int32_t ScanFormatted(const char* format, void* output) override;

  FILE* Stream() const { return stream_; }

 private:
  FILE* stream_;
  bool ownsStream_;
};

class PxMemFile : public PxFile {
 public:
  // With a buffer the file reads (and may grow) that memory without owning it;
  // without one it is empty until Open or the first write needs a buffer.
  explicit PxMemFile(uint8_t* buffer = nullptr, int32_t size = 0);
  ~PxMemFile() override;
  PxMemFile(const PxMemFile&) = delete;
  PxMemFile& operator=(const PxMemFile&) = delete;

  // Gives a file without a buffer an empty owned one, ready for writing.
  bool Open();

  bool CloseFile() override;
  size_t ReadBlock(void* buffer, size_t size, size_t count) override;
  size_t WriteBlock(const void* buffer, size_t size, size_t count) override;
  bool SeekTo(int32_t offset, int origin) override;
  int32_t Position() override;
  int32_t TotalSize() override;
  bool FlushFile() override;
  bool AtEnd() override;
  int32_t ErrorState() override;
  bool PutByte(uint8_t byte) override;
  int32_t GetByte() override;
  char* ReadLine(char* buffer, int32_t maximum) override;
  int32_t ScanFormatted(const char* format, void* output) override;

  uint8_t* Buffer() const { return buffer_; }
  int32_t DataSize() const { return dataSize_; }
  uint32_t Capacity() const { return capacity_; }

 private:
  bool Grow(uint64_t needed);
  void ZeroGap();
  void DropBuffer();

  uint8_t* buffer_;
  int32_t dataSize_;
  bool ownsBuffer_;
  int32_t position_;
  uint32_t capacity_;
  bool endReached_;
};

// Adapters for the stream tables of the codec libraries and decoders; the
// file arrives as an untyped pointer to a PxFile.
size_t PxFileReadProc(void* file, void* buffer, size_t size, size_t count);
int PxFileSeekProc(void* file, int32_t offset, int origin);  // 1 on success, else 0
