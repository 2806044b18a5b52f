#include "core/PngExifChunk.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "core/StringHelpers.h"
#include "platform/atomic_file.h"

namespace {

constexpr char kSignature[] = "\x89PNG\r\n\x1a\n";
constexpr size_t kSignatureBytes = 8;
// An EXIF block larger than this is not a picture's tags.
constexpr uint32_t kMaxBlock = 16u << 20;

uint32_t LoadBE32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void AppendBE32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

// A TIFF structure in memory, in its own byte order; every access is
// checked against the block's end.
class TiffBlock {
 public:
  explicit TiffBlock(std::vector<uint8_t>& bytes) : b_(bytes) {}
  bool Valid() {
    if (b_.size() < 8) return false;
    if (b_[0] == 'I' && b_[1] == 'I') big_ = false;
    else if (b_[0] == 'M' && b_[1] == 'M') big_ = true;
    else return false;
    return U16(2) == 42;
  }
  uint16_t U16(size_t at) const {
    if (at + 2 > b_.size()) return 0;
    return big_ ? static_cast<uint16_t>(b_[at] << 8 | b_[at + 1]) : static_cast<uint16_t>(b_[at + 1] << 8 | b_[at]);
  }
  uint32_t U32(size_t at) const {
    if (at + 4 > b_.size()) return 0;
    return big_ ? LoadBE32(&b_[at])
                : (uint32_t{b_[at + 3]} << 24) | (uint32_t{b_[at + 2]} << 16) | (uint32_t{b_[at + 1]} << 8) | b_[at];
  }
  void Put16(size_t at, uint16_t v) {
    b_[at + (big_ ? 0 : 1)] = static_cast<uint8_t>(v >> 8);
    b_[at + (big_ ? 1 : 0)] = static_cast<uint8_t>(v & 0xFF);
  }
  void Put32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b_[at + (big_ ? i : 3 - i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
  }
  size_t Size() const { return b_.size(); }

  // Sets the single-valued SHORT or LONG entries `tagA` and `tagB` of the
  // directory at `offset`; returns the value of entry `link` (0: none).
  uint32_t SetSizes(uint32_t offset, uint16_t tagA, uint32_t a, uint16_t tagB, uint32_t b, uint16_t link) {
    uint32_t linked = 0;
    if (offset < 8 || size_t{offset} + 2 > Size()) return 0;
    const uint16_t count = U16(offset);
    for (uint32_t i = 0; i < count; ++i) {
      const size_t entry = size_t{offset} + 2 + 12 * size_t{i};
      if (entry + 12 > Size()) break;
      const uint16_t tag = U16(entry), type = U16(entry + 2);
      if (tag == link && (type == 4 || type == 13)) linked = U32(entry + 8);
      if ((tag != tagA && tag != tagB) || U32(entry + 4) != 1 || (type != 3 && type != 4)) continue;
      const uint32_t value = tag == tagA ? a : b;
      if (type == 3 && value <= 0xFFFF) {
        Put16(entry + 8, static_cast<uint16_t>(value));
        Put16(entry + 10, 0);
      } else {
        Put16(entry + 2, 4);
        Put32(entry + 8, value);
      }
    }
    return linked;
  }

 private:
  std::vector<uint8_t>& b_;
  bool big_ = false;
};

}  // namespace

PngExifRead ReadPngExifChunk(const std::wstring& path, std::vector<uint8_t>& block) {
  block.clear();
  const std::string narrow = WideToNarrow(path);
  if (narrow.empty()) return PngExifRead::kUnreadable;
  std::unique_ptr<FILE, FileCloser> f(std::fopen(narrow.c_str(), "rb"));
  if (!f) return PngExifRead::kUnreadable;
  uint8_t head[kSignatureBytes];
  if (std::fread(head, 1, sizeof head, f.get()) != sizeof head || std::memcmp(head, kSignature, sizeof head) != 0)
    return PngExifRead::kUnreadable;
  for (;;) {
    uint8_t chunk[8];
    if (std::fread(chunk, 1, sizeof chunk, f.get()) != sizeof chunk) return PngExifRead::kNone;
    const uint32_t length = LoadBE32(chunk);
    if (std::memcmp(chunk + 4, "IEND", 4) == 0) return PngExifRead::kNone;
    if (std::memcmp(chunk + 4, "eXIf", 4) == 0) {
      if (length > kMaxBlock) return PngExifRead::kUnreadable;
      block.resize(length);
      if (std::fread(block.data(), 1, length, f.get()) != length) {
        block.clear();
        return PngExifRead::kUnreadable;
      }
      return PngExifRead::kFound;
    }
    if (std::fseek(f.get(), static_cast<long>(length) + 4, SEEK_CUR) != 0) return PngExifRead::kNone;
  }
}

bool SetExifPixelSize(std::vector<uint8_t>& block, uint32_t width, uint32_t height) {
  TiffBlock tiff(block);
  if (!tiff.Valid()) return false;
  const uint32_t exif = tiff.SetSizes(tiff.U32(4), 256, width, 257, height, 34665);
  if (exif != 0) tiff.SetSizes(exif, 40962, width, 40963, height, 0);
  return true;
}

bool WritePngExifChunk(const std::wstring& path, const std::vector<uint8_t>& block) {
  const std::string narrow = WideToNarrow(path);
  if (narrow.empty() || block.size() > kMaxBlock) return false;
  std::string bytes;
  {
    std::unique_ptr<FILE, FileCloser> f(std::fopen(narrow.c_str(), "rb"));
    if (!f) return false;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f.get())) > 0) bytes.append(buffer, n);
    if (std::ferror(f.get())) return false;
  }
  if (bytes.size() < kSignatureBytes || bytes.compare(0, kSignatureBytes, kSignature, kSignatureBytes) != 0)
    return false;
  std::string chunk;
  AppendBE32(chunk, static_cast<uint32_t>(block.size()));
  chunk += "eXIf";
  chunk.append(reinterpret_cast<const char*>(block.data()), block.size());
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32(crc, reinterpret_cast<const Bytef*>(chunk.data() + 4), static_cast<uInt>(chunk.size() - 4));
  AppendBE32(chunk, static_cast<uint32_t>(crc));

  std::string out = bytes.substr(0, kSignatureBytes);
  bool placed = false;
  for (size_t at = kSignatureBytes; at < bytes.size();) {
    if (at + 12 > bytes.size()) return false;
    const uint32_t length = LoadBE32(reinterpret_cast<const uint8_t*>(bytes.data() + at));
    if (length > bytes.size() - at - 12) return false;
    const std::string type = bytes.substr(at + 4, 4);
    const size_t whole = size_t{length} + 12;
    if ((type == "IDAT" || type == "IEND") && !placed) {
      out += chunk;
      placed = true;
    }
    if (type != "eXIf") out.append(bytes, at, whole);
    at += whole;
  }
  return placed && pw::WriteFileAtomically(narrow, out);
}
