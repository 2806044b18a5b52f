// Encoders used by the RAW decoder tests: a bit writer, canonical Huffman
// codes from a tree source, a lossless-JPEG (SOF3) encoder with predictors
// 1-7 and restart markers, and a Canon CRW compressed-data encoder. Written
// from the coding rules, not from the decoder, so that both are checked.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "rawdecode/raw_context.h"
#include "rawdecode/raw_stream.h"

namespace rawtest {

class BitWriter {
 public:
  explicit BitWriter(bool stuff_ff) : stuff_(stuff_ff) {}
  void Put(uint32_t bits, int n);  // n <= 24, most significant bit first
  void PadWithOnes();              // to a byte boundary
  std::vector<uint8_t>& bytes() { return out_; }

 private:
  void Byte(uint8_t b);
  bool stuff_;
  uint32_t acc_ = 0;
  int count_ = 0;
  std::vector<uint8_t> out_;
};

// Codes of a tree source (16 counts, then symbols), assigned canonically.
struct HuffCodes {
  explicit HuffCodes(const std::vector<uint8_t>& source);
  std::map<int, std::pair<uint32_t, int>> code;  // symbol -> (code, length)
  std::vector<uint8_t> source;
};

// A source covering difference lengths 0..16; `rotate` changes which
// length gets which code.
std::vector<uint8_t> FullLengthTable(int rotate = 0);
// Length of a lossless-JPEG difference (-32768 gives 16).
int DiffLength(int diff);

struct LjpegParams {
  int width = 8, height = 4, components = 1, precision = 12, psv = 1;
  int restart_rows = 0;         // restart interval in rows (0: no DRI segment)
  bool shared_table = false;    // one DHT table (id 0) for every component
  bool extra_byte_after_frame = false;  // a filler byte after a one-component frame
  bool long_length16 = false;   // write 16 bits after a length-16 symbol
  int point_transform = 0;
  int sraw_sampling = 0;        // Canon sRAW: the first component's sampling byte (0x21, 0x22)
  bool swap_tables = false;     // components 1 and 2 coded with tables 1 and 0 (scan selectors say so)
};

// Samples are row-major, components interleaved (components + the sRAW
// extra values per position); each below 1 << precision.
std::vector<uint8_t> EncodeLjpeg(const LjpegParams& p, const std::vector<uint16_t>& samples);

struct CrwParams {
  int sensor_width = 64, sensor_height = 16;
  bool low_bits = true;  // 12-bit samples with the two low bits stored apart
  int table_set = 0;
};
// A CRW data stream: lossless-JPEG-free block coding from offset 540 (and
// low bits from offset 26); the whole file image.
std::vector<uint8_t> EncodeCrw(const CrwParams& p, const std::vector<uint16_t>& samples);

// A context reading from memory; the stream record lives beside it.
struct MemoryContext {
  explicit MemoryContext(std::vector<uint8_t> data);
  std::unique_ptr<raw_decode_context> ctx;
  std::vector<uint8_t> bytes;
  raw_memory_stream stream;
  raw_decode_context* operator->() { return ctx.get(); }
  raw_decode_context* get() { return ctx.get(); }
};

}  // namespace rawtest
