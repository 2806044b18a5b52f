// Builders for the blocks that several test files assemble.
#pragma once

#include "psd_test_support.h"

namespace psdtest {

inline Bytes Contour(std::initializer_list<std::pair<double, double>> points) {
  W list;
  list.u32(uint32_t(points.size()));
  for (auto [x, y] : points)
    list.str("Objc").raw(Descriptor("CrPt", {Item("Hrzn", "doub", Double(x)), Item("Vrtc", "doub", Double(y)),
                                             Item("Cnty", "bool", Bool(true))}));
  return Descriptor("ShpC", {Item("Nm  ", "TEXT", Unicode("Linear")), Item("Crv ", "VlLs", list.b)});
}

inline Bytes Lfx2(const std::vector<Bytes>& items) {
  W w;
  w.u32(0).u32(16).raw(Unicode("")).raw(Id("null")).u32(uint32_t(items.size()));
  for (const auto& i : items) w.raw(i);
  return w.b;
}

// One pattern entry of a "Patt" block: planes are written channels.
inline Bytes Pattern(uint32_t version, uint32_t mode, uint16_t w, uint16_t h, const std::vector<Bytes>& planes,
              uint8_t compression = 0) {
  W p;
  p.u32(version).u32(mode).u16(h).u16(w).raw(Unicode("Pat")).u8(4).str("abcd");
  if (mode == 2) {
    for (int i = 0; i < 256; ++i) p.u8(uint32_t(i)).u8(0).u8(0);
  }
  p.u32(3).u32(0).u32(0).u32(0).u32(h).u32(w).u32(uint32_t(planes.size() + 1));
  for (const auto& plane : planes) {
    Bytes data = compression == 2 ? Deflate(plane) : plane;
    p.u32(1).u32(uint32_t(23 + data.size())).u32(8).u32(0).u32(0).u32(h).u32(w).u16(8).u8(compression).raw(data);
  }
  p.u32(0).u32(0);  // an unwritten channel
  W w2;
  w2.u32(uint32_t(p.size())).raw(p.b).pad_to(4);
  return w2.b;
}

}  // namespace psdtest
