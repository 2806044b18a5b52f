#include "exif/ExifStream.h"

#include <cstring>

#include "platform/byteorder.h"

// ---- file I/O ---------------------------------------------------------------

int64_t ExifFileIO::Read(void* dst, int64_t count) {
  if (*file_ == nullptr || count < 0) return 0;
  if (count == 0) return 0;
  return fread(dst, static_cast<size_t>(count), 1, *file_) == 1 ? count : 0;
}

int64_t ExifFileIO::Write(const void* src, int64_t count) {
  if (*file_ == nullptr || count < 0) return 0;
  if (count == 0) return 0;
  return fwrite(src, static_cast<size_t>(count), 1, *file_) == 1 ? count : 0;
}

int64_t ExifFileIO::Seek(int64_t offset, int origin) {
  if (*file_ == nullptr) return -1;
  const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
  if (fseeko(*file_, static_cast<off_t>(offset), whence) != 0) return -1;
  return static_cast<int64_t>(ftello(*file_));
}

int64_t ExifFileIO::Size() {
  const int64_t here = Seek(0, 1);
  if (here < 0) return 0;
  const int64_t end = Seek(0, 2);
  Seek(here, 0);
  return end < 0 ? 0 : end;
}

ExifResult ExifFileIO::Close() {
  if (*file_ == nullptr) return kExifCloseFailed;
  const int rc = fclose(*file_);
  *file_ = nullptr;
  return rc == 0 ? kExifOk : kExifCloseFailed;
}

// ---- memory I/O -------------------------------------------------------------

int64_t ExifMemoryIO::Read(void* dst, int64_t count) {
  const uint32_t mode = owner_->Mode();
  if (mode != ExifStream::kModeRead && mode != ExifStream::kModeEdit) return -1;
  if (count < 0 || count > size_ - position_) return -1;
  if (count > 0) memcpy(dst, buffer_ + position_, static_cast<size_t>(count));
  position_ += count;
  return count;
}

int64_t ExifMemoryIO::Write(const void* src, int64_t count) {
  if (owner_->Mode() != ExifStream::kModeEdit) return -1;
  if (count < 0 || count > capacity_ - position_) return -1;
  if (count > 0) memcpy(buffer_ + position_, src, static_cast<size_t>(count));
  position_ += count;
  if (position_ > size_) size_ = position_;
  return count;
}

int64_t ExifMemoryIO::Seek(int64_t offset, int origin) {
  int64_t base = 0;
  if (origin == 1) base = position_;
  else if (origin == 2) base = size_;
  // Saturating add: an offset from a file can be anything.
  int64_t target;
  if (__builtin_add_overflow(base, offset, &target)) target = offset < 0 ? 0 : size_;
  if (target < 0) target = 0;
  if (target > size_) target = size_;
  position_ = target;
  return position_;
}

// ---- stream -----------------------------------------------------------------

bool ExifStream::ParseMode(const char* mode, std::string* canonical, uint32_t* code) {
  if (mode == nullptr) mode = "r";
  if (mode[0] == 'r') {
    const bool edit = mode[1] == '+';
    *canonical = edit ? "r+" : "r";
    *code = edit ? kModeEdit : kModeRead;
    return true;
  }
  if (mode[0] == 'w' && mode[1] != '+') {
    *canonical = "w";
    *code = kModeNew;
    return true;
  }
  return false;
}

std::unique_ptr<ExifStream> ExifStream::Open(ExifResult* status, const std::string& name,
                                             const char* mode) {
  std::string canonical;
  uint32_t code = 0;
  if (!ParseMode(mode, &canonical, &code)) {
    *status = kExifBadMode;
    return nullptr;
  }
  const char* fmode = code == kModeRead ? "rb" : code == kModeEdit ? "rb+" : "wb";
  FILE* f = fopen(name.c_str(), fmode);
  if (f == nullptr) {
    *status = kExifOpenFailed;
    return nullptr;
  }
  auto s = Adopt(f, name, mode);
  *status = kExifOk;
  return s;
}

std::unique_ptr<ExifStream> ExifStream::Adopt(FILE* file, const std::string& name,
                                              const char* mode) {
  std::string canonical;
  uint32_t code = 0;
  if (!ParseMode(mode, &canonical, &code)) return nullptr;
  std::unique_ptr<ExifStream> s(new ExifStream());
  s->file_ = file;
  s->io_ = std::make_unique<ExifFileIO>(s.get(), &s->file_);
  s->name_ = name;
  s->mode_ = code;
  s->modeText_ = mode == nullptr ? "r" : mode;
  return s;
}

ExifStream::ExifStream(ExifResult* status, uint8_t* buffer, int64_t capacity, const char* mode,
                       int64_t size) {
  std::string canonical;
  uint32_t code = 0;
  if (mode == nullptr || !ParseMode(mode, &canonical, &code)) {
    *status = kExifBadMode;
    return;
  }
  mode_ = code;
  modeText_ = mode;
  if (capacity < 0) capacity = 0;
  if (size == -1) size = code == kModeNew ? 0 : capacity;
  if (size < 0) size = 0;
  if (size > capacity) size = capacity;
  io_ = std::make_unique<ExifMemoryIO>(this, buffer, capacity, size);
  flags_ |= kMemory;
  *status = kExifOk;
}

ExifStream::~ExifStream() {
  if (io_) io_->Close();
}

void ExifStream::SetByteOrder(bool bigEndian) {
  bigEndian_ = bigEndian;
  const bool swap = bigEndian != (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__);
  flags_ = swap ? (flags_ | kSwap) : (flags_ & ~kSwap);
}

void ExifStream::SwapDoubles(double* values, size_t n) const {
  if (!Swapped()) return;
  for (size_t i = 0; i < n; ++i) {
    uint64_t bits;
    memcpy(&bits, &values[i], 8);
    bits = pw::Swap64(bits);
    memcpy(&values[i], &bits, 8);
  }
}

int64_t ExifStream::Tell() const { return io_ ? io_->Seek(0, 1) : -1; }
int64_t ExifStream::SizeOf() const { return io_ ? io_->Size() : 0; }
bool ExifStream::SeekTo(int64_t position) {
  return io_ && position >= 0 && io_->Seek(position, 0) == position;
}
int64_t ExifStream::SeekEnd() { return io_ ? io_->Seek(0, 2) : -1; }

bool ExifStream::ReadBytes(void* dst, int64_t count) {
  if (count == 0) return true;
  return io_ && io_->Read(dst, count) == count;
}

bool ExifStream::WriteBytes(const void* src, int64_t count) {
  if (count == 0) return true;
  return io_ && io_->Write(src, count) == count;
}

uint16_t ExifStream::Order16(uint16_t v) const { return Swapped() ? pw::Swap16(v) : v; }
uint32_t ExifStream::Order32(uint32_t v) const { return Swapped() ? pw::Swap32(v) : v; }

bool ExifStream::ReadU16(uint16_t* v) {
  uint16_t raw;
  if (!ReadBytes(&raw, 2)) return false;
  *v = Order16(raw);
  return true;
}

bool ExifStream::ReadU32(uint32_t* v) {
  uint32_t raw;
  if (!ReadBytes(&raw, 4)) return false;
  *v = Order32(raw);
  return true;
}

bool ExifStream::WriteU16(uint16_t v) {
  const uint16_t raw = Order16(v);
  return WriteBytes(&raw, 2);
}

bool ExifStream::WriteU32(uint32_t v) {
  const uint32_t raw = Order32(v);
  return WriteBytes(&raw, 4);
}
