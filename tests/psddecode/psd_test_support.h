// Test helpers: a memory stream for the decoder, an owning context, and a
// small big-endian writer for hand-assembled documents.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "psddecode/psd.h"

namespace psdtest {

using Bytes = std::vector<uint8_t>;

struct MemoryStream {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
  int seeks = 0;
  std::vector<size_t> read_requests;
};

inline int64_t MemSize(void* s) { return int64_t(static_cast<MemoryStream*>(s)->size); }
inline int32_t MemSeek(void* s, int32_t offset, int32_t origin) {
  auto* m = static_cast<MemoryStream*>(s);
  ++m->seeks;
  if (origin != 1) return 0;
  int64_t target = int64_t(m->pos) + offset;
  if (target < 0 || target > int64_t(m->size)) return 0;
  m->pos = size_t(target);
  return 1;
}
inline size_t MemRead(void* s, void* dst, size_t size, size_t count) {
  auto* m = static_cast<MemoryStream*>(s);
  m->read_requests.push_back(size * count);
  size_t n = std::min(size * count, m->size - m->pos) / (size ? size : 1);
  std::memcpy(dst, m->data + m->pos, n * size);
  m->pos += n * size;
  return n;
}

// A context over a byte buffer, released (and checked for leaks under the
// sanitizer build) when it goes out of scope.
struct Decoded {
  Bytes bytes;
  MemoryStream stream;
  psd_file_context ctx{};
  psd_status status = 0;
  Decoded() = default;
  Decoded(const Decoded&) = delete;
  ~Decoded() { psd_free_context(&ctx); }
};

inline std::unique_ptr<Decoded> Open(Bytes bytes, int32_t load_mode = 0) {
  auto d = std::make_unique<Decoded>();
  d->bytes = std::move(bytes);
  d->stream.data = d->bytes.data();
  d->stream.size = d->bytes.size();
  d->ctx.stream = &d->stream;
  d->ctx.callbacks = {MemSize, MemSeek, MemRead};
  d->ctx.file_length = int32_t(d->bytes.size());
  d->ctx.load_mode = load_mode;
  return d;
}

inline std::unique_ptr<Decoded> Decode(Bytes bytes, int32_t load_mode = 0) {
  auto d = Open(std::move(bytes), load_mode);
  d->status = psd_main_loop(&d->ctx);
  return d;
}

// Big-endian writer.
struct W {
  Bytes b;
  W& u8(uint32_t v) { b.push_back(uint8_t(v)); return *this; }
  W& u16(uint32_t v) { u8(v >> 8); return u8(v); }
  W& u32(uint32_t v) { u16(v >> 16); return u16(v); }
  W& f64(double d) {
    uint64_t v;
    std::memcpy(&v, &d, 8);
    u32(uint32_t(v >> 32));
    return u32(uint32_t(v));
  }
  W& str(const std::string& s) { b.insert(b.end(), s.begin(), s.end()); return *this; }
  W& raw(const Bytes& x) { b.insert(b.end(), x.begin(), x.end()); return *this; }
  W& zeros(size_t n) { b.insert(b.end(), n, 0); return *this; }
  // A block with a 4-byte length in front.
  W& block(const Bytes& x) { u32(uint32_t(x.size())); return raw(x); }
  W& pad_to(size_t multiple) { while (b.size() % multiple) u8(0); return *this; }
  size_t size() const { return b.size(); }
};

inline Bytes Header(uint16_t channels, uint32_t height, uint32_t width, uint16_t depth,
                    uint16_t mode) {
  W w;
  w.str("8BPS").u16(1).zeros(6).u16(channels).u32(height).u32(width).u16(depth).u16(mode);
  return w.b;
}

// A whole document: header, colour data, resources, layer section, image data.
inline Bytes Document(const Bytes& header, const Bytes& color_data, const Bytes& resources,
                      const Bytes& layer_section, const Bytes& image_data) {
  W w;
  w.raw(header).block(color_data).block(resources).block(layer_section).raw(image_data);
  return w.b;
}

inline Bytes Resource(uint16_t id, const Bytes& data, const std::string& name = "") {
  W w;
  w.str("8BIM").u16(id).u8(uint32_t(name.size())).str(name);
  if (name.size() % 2 == 0) w.u8(0);
  w.u32(uint32_t(data.size())).raw(data);
  if (data.size() & 1) w.u8(0);
  return w.b;
}

// Raw image data of planes given in file order.
inline Bytes RawImage(const std::vector<Bytes>& planes) {
  W w;
  w.u16(0);
  for (const auto& p : planes) w.raw(p);
  return w.b;
}

Bytes Deflate(const Bytes& in);

}  // namespace psdtest

namespace psdtest {

// ---- layer section -------------------------------------------------------

// One additional-information block: "8BIM", key, length, data padded even.
inline Bytes Block(const std::string& key, const Bytes& data) {
  W w;
  w.str("8BIM").str(key).u32(uint32_t(data.size())).raw(data);
  if (data.size() & 1) w.u8(0);
  return w.b;
}

struct Layer {
  int32_t top = 0, left = 0, bottom = 2, right = 2;
  // id and the channel's data (compression word and payload).
  std::vector<std::pair<int16_t, Bytes>> channels;
  std::string blend = "norm";
  uint8_t opacity = 255;
  uint8_t flags = 0;
  Bytes mask;                 // the mask data after its length
  bool blending_set = false;  // false: an empty blending-ranges block
  Bytes blending;             // the blending ranges after their length
  std::string name = "L";
  Bytes blocks;               // additional information
};

inline Bytes RawChannel(const Bytes& plane) {
  W w;
  w.u16(0).raw(plane);
  return w.b;
}

inline Bytes LayerRecord(const Layer& l) {
  W w;
  w.u32(uint32_t(l.top)).u32(uint32_t(l.left)).u32(uint32_t(l.bottom)).u32(uint32_t(l.right));
  w.u16(uint16_t(l.channels.size()));
  for (const auto& [id, data] : l.channels) w.u16(uint16_t(id)).u32(uint32_t(data.size()));
  w.str("8BIM").str(l.blend).u8(l.opacity).u8(0).u8(l.flags).u8(0);
  W extra;
  extra.block(l.mask);
  extra.block(l.blending_set ? l.blending : Bytes{});
  extra.u8(uint32_t(l.name.size())).str(l.name);
  size_t name_total = 1 + l.name.size();
  for (size_t i = name_total; i % 4; ++i) extra.u8(0);
  extra.raw(l.blocks);
  w.block(extra.b);
  return w.b;
}

// Layer info (length first) with records, then every layer's channel data.
inline Bytes LayerInfo(const std::vector<Layer>& layers, int16_t count_override = 0) {
  W body;
  body.u16(uint16_t(count_override ? count_override : int16_t(layers.size())));
  for (const auto& l : layers) body.raw(LayerRecord(l));
  for (const auto& l : layers)
    for (const auto& [id, data] : l.channels) body.raw(data);
  if (body.size() & 1) body.u8(0);
  W w;
  w.block(body.b);
  return w.b;
}

// The layer and mask section's body (its length is added by Document).
inline Bytes LayerSection(const Bytes& layer_info, const Bytes& global_mask = {},
                          const Bytes& global_blocks = {}) {
  W w;
  w.raw(layer_info).block(global_mask).raw(global_blocks);
  return w.b;
}

// ---- descriptors ---------------------------------------------------------

inline Bytes Unicode(const std::string& s) {
  W w;
  w.u32(uint32_t(s.size()));
  for (char ch : s) w.u16(uint8_t(ch));
  return w.b;
}
// An ID: a 4-byte key (length 0) or a longer text key.
inline Bytes Id(const std::string& key) {
  W w;
  if (key.size() == 4) w.u32(0).str(key);
  else w.u32(uint32_t(key.size())).str(key);
  return w.b;
}
inline Bytes Item(const std::string& key, const std::string& type, const Bytes& value) {
  W w;
  w.raw(Id(key)).str(type).raw(value);
  return w.b;
}
inline Bytes Descriptor(const std::string& class_key, const std::vector<Bytes>& items) {
  W w;
  w.raw(Unicode("")).raw(Id(class_key)).u32(uint32_t(items.size()));
  for (const auto& i : items) w.raw(i);
  return w.b;
}
inline Bytes Double(double d) { W w; w.f64(d); return w.b; }
inline Bytes UnitDouble(const std::string& unit, double d) { W w; w.str(unit).f64(d); return w.b; }
inline Bytes Bool(bool v) { return Bytes{uint8_t(v)}; }
inline Bytes Long(int32_t v) { W w; w.u32(uint32_t(v)); return w.b; }
inline Bytes Enum(const std::string& type, const std::string& value) {
  W w;
  w.raw(Id(type)).raw(Id(value));
  return w.b;
}
inline Bytes RgbColor(double r, double g, double b) {
  return Descriptor("RGBC", {Item("Rd  ", "doub", Double(r)), Item("Grn ", "doub", Double(g)),
                             Item("Bl  ", "doub", Double(b))});
}

}  // namespace psdtest
