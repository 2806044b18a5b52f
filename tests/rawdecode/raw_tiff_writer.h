// A small TIFF writer for the parser tests: directory chains, sub-directories
// (330), EXIF, GPS and maker-note blobs, strips, in either byte order. Its
// output is checked with tiffdump and exiftool -validate.
#pragma once

#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace rawtest {

// Seconds of a local date and time, as the parsers read the files' DateTime.
inline int64_t LocalSeconds(int y, int mo, int d, int h, int mi, int s) {
  struct tm t = {};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  return int64_t(mktime(&t));
}

class ByteSink {
 public:
  explicit ByteSink(bool little) : little_(little) {}
  void U8(uint32_t v) { bytes.push_back(uint8_t(v)); }
  void U16(uint32_t v) {
    if (little_) {
      U8(v);
      U8(v >> 8);
    } else {
      U8(v >> 8);
      U8(v);
    }
  }
  void U32(uint32_t v) {
    if (little_) {
      U16(v & 0xFFFF);
      U16(v >> 16);
    } else {
      U16(v >> 16);
      U16(v & 0xFFFF);
    }
  }
  void F32(float f);
  void Text(const std::string& s) { bytes.insert(bytes.end(), s.begin(), s.end()); }
  void Raw(const std::vector<uint8_t>& b) { bytes.insert(bytes.end(), b.begin(), b.end()); }
  void PadTo(size_t n) {
    while (bytes.size() < n) bytes.push_back(0);
  }
  bool little() const { return little_; }
  std::vector<uint8_t> bytes;

 private:
  bool little_;
};

class TiffWriter;

class TiffIfd {
 public:
  TiffIfd& Short(uint16_t tag, std::vector<uint32_t> values);
  TiffIfd& Long(uint16_t tag, std::vector<uint32_t> values);
  TiffIfd& SShort(uint16_t tag, std::vector<int32_t> values);
  TiffIfd& Rational(uint16_t tag, std::vector<std::pair<uint32_t, uint32_t>> values);
  TiffIfd& SRational(uint16_t tag, std::vector<std::pair<int32_t, int32_t>> values);
  TiffIfd& Float(uint16_t tag, std::vector<float> values);
  TiffIfd& Ascii(uint16_t tag, const std::string& text);  // adds the zero
  TiffIfd& Bytes(uint16_t tag, uint16_t type, std::vector<uint8_t> bytes);
  // A blob written after the directory; `make` gets its file position.
  // `count` is the entry's value count when it is not `size` (LONG lists).
  TiffIfd& Blob(uint16_t tag, uint16_t type, size_t size,
                std::function<std::vector<uint8_t>(uint32_t position)> make, uint32_t count = 0);
  // LONG offsets to other directories (EXIF, GPS, sub-directories).
  TiffIfd& Pointers(uint16_t tag, std::vector<TiffIfd*> targets);
  // StripOffsets (273) and StripByteCounts (279) for one strip of `data`.
  TiffIfd& Strip(std::vector<uint8_t> data);
  // Several strips (273, 279) or tiles (324, 325), stored one after the
  // other in the order given, as LONG lists; `order` (when not empty) gives
  // the storage order of the pieces, so the file need not keep them in
  // picture order. piece_at() then gives each piece's file position.
  // `type` 3 stores the offsets and byte counts as SHORT (TIFF allows it;
  // the file must then stay below 64 KiB).
  TiffIfd& Pieces(bool tiles, std::vector<std::vector<uint8_t>> pieces, std::vector<size_t> order = {},
                  uint16_t type = 4);
  uint32_t piece_at(size_t i) const { return position_ ? strip_at_ + piece_rel_[i] : 0; }
  // The usual image tags: width, height, bits, compression, photometric, samples.
  TiffIfd& Image(uint32_t width, uint32_t height, uint32_t bits, uint32_t compression,
                 uint32_t photometric, uint32_t samples);

 private:
  friend class TiffWriter;
  struct Entry {
    uint16_t tag, type;
    uint32_t count;
    std::vector<uint8_t> data;  // in file order; empty for blobs and pointers
    size_t blob_size = 0;
    std::function<std::vector<uint8_t>(uint32_t)> make;
    std::vector<TiffIfd*> targets;
    bool strip_offset = false;
    bool piece_offsets = false;
  };
  explicit TiffIfd(bool little) : little_(little) {}
  Entry& Add(uint16_t tag, uint16_t type, uint32_t count);
  bool little_;
  std::vector<Entry> entries_;
  std::vector<uint8_t> strip_;
  std::vector<uint32_t> piece_rel_;  // each piece's place inside strip_
  uint32_t position_ = 0;
  uint32_t strip_at_ = 0;
};

class TiffWriter {
 public:
  explicit TiffWriter(bool little = true) : little_(little) {}
  // A new directory; `chained` ones follow the header's chain in order.
  TiffIfd& NewIfd(bool chained);
  std::vector<uint8_t> Bytes();

 private:
  bool little_;
  std::deque<TiffIfd> ifds_;
  std::vector<TiffIfd*> chain_;
};

// Writes bytes to a file under the test's temporary folder and returns its path.
std::string WriteTempFile(const std::string& name, const std::vector<uint8_t>& bytes);
// Runs a command and returns its standard output (and the exit status).
std::string RunCommand(const std::string& command, int* status);

}  // namespace rawtest
