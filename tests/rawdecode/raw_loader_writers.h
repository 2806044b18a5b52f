// Writers of the stored layouts the raw loaders read, written from the
// layouts' own rules (bit orders, packings, the format's code tables), and
// the frame a loader runs on, filled by hand.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "raw_test_encoder.h"
#include "rawdecode/raw_context.h"
#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_stream.h"

namespace rawtest {

using Bytes = std::vector<uint8_t>;

inline void PutLE16(Bytes& b, unsigned v) { b.push_back(uint8_t(v)), b.push_back(uint8_t(v >> 8)); }
inline void PutBE16(Bytes& b, unsigned v) { b.push_back(uint8_t(v >> 8)), b.push_back(uint8_t(v)); }
inline void PutLE32(Bytes& b, uint32_t v) { PutLE16(b, v & 0xFFFF), PutLE16(b, v >> 16); }
inline void PutBE32(Bytes& b, uint32_t v) { PutBE16(b, v >> 16), PutBE16(b, v & 0xFFFF); }
inline void Put16(Bytes& b, unsigned v, bool little) { little ? PutLE16(b, v) : PutBE16(b, v); }
inline void Put32(Bytes& b, uint32_t v, bool little) { little ? PutLE32(b, v) : PutBE32(b, v); }
inline void SetLE32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
inline void SetBE32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (24 - 8 * i));
}

// A deterministic pattern below 1 << bits that differs from sample to sample.
inline unsigned Pattern(int row, int col, int bits) {
  unsigned v = unsigned(row * 397 + col * 131 + (row * col) % 13 * 29 + 7);
  return v & ((1u << bits) - 1);
}

// Stored and visible geometry of a hand-filled frame.
struct Geometry {
  int sensor_height = 4, sensor_width = 8, image_height = 4, image_width = 8, top = 0, left = 0;
};

// A context over `data` with the geometry set, a Bayer pattern (or none),
// identity tone curve, the pixel buffer allocated and the stream at `start`.
struct Frame : MemoryContext {
  Frame(Bytes data, const Geometry& g, uint32_t pattern = 0x94949494, int64_t start = 0)
      : MemoryContext(std::move(data)) {
    raw_decode_context* c = ctx.get();
    c->sensor_height = uint16_t(g.sensor_height);
    c->sensor_width = uint16_t(g.sensor_width);
    c->image_height = uint16_t(g.image_height);
    c->image_width = uint16_t(g.image_width);
    c->top_margin = uint16_t(g.top);
    c->left_margin = uint16_t(g.left);
    c->cfa_pattern = pattern;
    c->colour_count = 3;
    c->message_name = "test";
    for (int i = 0; i < raw_tone_curve_size; ++i) c->tone_curve[i] = uint16_t(i);
    raw_allocate_pixels(c, "test");
    raw_seek(c, start, 0);
  }
  unsigned At(int row, int col) { return cfa_sample(ctx.get(), unsigned(row), unsigned(col)); }
  raw_pixel& Pixel(int row, int col) { return ctx->pixels[size_t(row) * ctx->image_width + col]; }
};

// Bits written least significant first into bytes (the order of Sony ARW2's
// and Kodak's block bit fields).
class LsbBits {
 public:
  void Put(uint32_t v, int n) {
    for (int i = 0; i < n; ++i) bits_.push_back((v >> i) & 1);
  }
  size_t size() const { return bits_.size(); }
  bool bit(size_t i) const { return i < bits_.size() && bits_[i]; }

 private:
  std::vector<bool> bits_;
};

// Packs 32-bit words of MSB-first bits (the Phase One/Hasselblad reader).
class WordBits {
 public:
  explicit WordBits(bool little) : little_(little) {}
  void Put(uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) {
      acc_ = acc_ << 1 | ((v >> i) & 1);
      if (++count_ == 32) Flush();
    }
  }
  Bytes Finish() {
    while (count_) Put(0, 1);
    Put32(out_, 0, little_);  // the reader may refill once past the last bit
    return out_;
  }

 private:
  void Flush() {
    Put32(out_, uint32_t(acc_), little_);
    acc_ = 0;
    count_ = 0;
  }
  bool little_;
  uint64_t acc_ = 0;
  int count_ = 0;
  Bytes out_;
};

// The value bits of a lossless-JPEG style difference of length `len`.
inline uint32_t DiffBits(int diff, int len) { return uint32_t(diff < 0 ? diff + (1 << len) - 1 : diff); }

}  // namespace rawtest
