#include "raw_test_encoder.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

extern const uint8_t canon_crw_first_tree[3][29];
extern const uint8_t canon_crw_second_tree[3][180];

namespace rawtest {

void BitWriter::Byte(uint8_t b) {
  out_.push_back(b);
  if (stuff_ && b == 0xFF) out_.push_back(0x00);
}

void BitWriter::Put(uint32_t bits, int n) {
  for (int i = n - 1; i >= 0; --i) {
    acc_ = (acc_ << 1) | ((bits >> i) & 1);
    if (++count_ == 8) {
      Byte(uint8_t(acc_));
      acc_ = 0;
      count_ = 0;
    }
  }
}

void BitWriter::PadWithOnes() {
  while (count_ != 0) Put(1, 1);
}

HuffCodes::HuffCodes(const std::vector<uint8_t>& src) : source(src) {
  uint32_t next = 0;
  size_t k = 16;
  for (int len = 1; len <= 16; ++len) {
    for (int i = 0; i < src[len - 1]; ++i) code[src[k++]] = {next++, len};
    next <<= 1;
  }
}

std::vector<uint8_t> FullLengthTable(int rotate) {
  // Lengths of the usual DC table, stretched to 17 symbols; `rotate` shifts
  // which length gets which code, so every table codes differently.
  std::vector<uint8_t> t = {0, 1, 5, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0};
  for (int s = 0; s <= 16; ++s) t.push_back(uint8_t((s + 5 * rotate) % 17));
  return t;
}

int DiffLength(int diff) {
  if (diff == -32768) return 16;
  int m = diff < 0 ? -diff : diff, len = 0;
  while (m) {
    ++len;
    m >>= 1;
  }
  return len;
}

namespace {

void Marker(std::vector<uint8_t>& out, int marker) {
  out.push_back(0xFF);
  out.push_back(uint8_t(marker));
}
void Word(std::vector<uint8_t>& out, int v) {
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}

}  // namespace

std::vector<uint8_t> EncodeLjpeg(const LjpegParams& p, const std::vector<uint16_t>& samples) {
  const int w = p.width, h = p.height, nc = p.components;
  const int bits = p.precision - p.point_transform;
  // Canon sRAW: the first component's sampling factors make (h x v - 1) & 3
  // extra values per position, coded like the first component.
  const int sraw = p.sraw_sampling ? ((p.sraw_sampling >> 4) * (p.sraw_sampling & 15) - 1) & 3 : 0;
  const int clrs = nc + sraw;
  std::vector<uint8_t> out;
  Marker(out, 0xD8);
  Marker(out, 0xC3);
  Word(out, 8 + 3 * nc);
  out.push_back(uint8_t(p.precision));
  Word(out, h);
  Word(out, w);
  out.push_back(uint8_t(nc));
  for (int c = 0; c < nc; ++c) {
    out.push_back(uint8_t(c + 1));
    out.push_back(c == 0 && p.sraw_sampling ? uint8_t(p.sraw_sampling) : 0x11);
    out.push_back(0);
  }
  if (p.extra_byte_after_frame) out.push_back(0x00);
  // Table t codes component t (all components with one shared table; with
  // sRAW, table 0 the values up to sraw and table 1 the rest). A DHT names
  // tables 0..3 only: components from the fifth on use the first table.
  const int tables = p.shared_table ? 1 : sraw ? 2 : std::min(nc, 4);
  std::vector<HuffCodes> table;
  for (int t = 0; t < tables; ++t) table.emplace_back(FullLengthTable(t));
  Marker(out, 0xC4);
  Word(out, 2 + tables * int(1 + table[0].source.size()));
  for (int t = 0; t < tables; ++t) {
    out.push_back(uint8_t(t));
    out.insert(out.end(), table[t].source.begin(), table[t].source.end());
  }
  const bool swapped = p.swap_tables && !p.shared_table && !sraw && tables >= 2;
  auto table_of = [&](int c) -> const HuffCodes& {
    if (p.shared_table) return table[0];
    if (swapped && c < 2) return table[c ^ 1];
    if (sraw) return table[c <= sraw ? 0 : 1];
    return table[c < tables ? c : 0];
  };
  if (p.restart_rows) {
    Marker(out, 0xDD);
    Word(out, 4);
    Word(out, p.restart_rows * w);
  }
  Marker(out, 0xDA);
  Word(out, 6 + 2 * nc);
  out.push_back(uint8_t(nc));
  for (int c = 0; c < nc; ++c) {
    out.push_back(uint8_t(c + 1));
    const int selector = p.shared_table || c >= 4 ? 0 : swapped && c < 2 ? c ^ 1 : c;
    out.push_back(uint8_t(selector << 4));
  }
  out.push_back(uint8_t(p.psv));
  out.push_back(0);
  out.push_back(uint8_t(p.point_transform));

  BitWriter bw(true);
  auto at = [&](int r, int col, int c) -> int { return samples[(size_t(r) * w + col) * clrs + c]; };
  int restart_count = 0;
  for (int r = 0; r < h; ++r) {
    // The first row of the scan and of every restart interval is predicted
    // from the left only, its first value from the middle of the range.
    bool first = r == 0 || (p.restart_rows && r % p.restart_rows == 0);
    if (r > 0 && first) {
      bw.PadWithOnes();
      Marker(bw.bytes(), 0xD0 + (restart_count++ & 7));
    }
    int last_luma = 0;  // sRAW: the last value stored with component <= sraw
    for (int col = 0; col < w; ++col) {
      for (int c = 0; c < clrs; ++c) {
        int pred;
        if (sraw && c <= sraw && (col || c)) {
          pred = last_luma;
        } else if (col) {
          pred = at(r, col - 1, c);
        } else {
          pred = first ? 1 << (bits - 1) : at(r - 1, 0, c);
        }
        if (!first && col) {
          int a = pred, b = at(r - 1, col, c), cc = at(r - 1, col - 1, c);
          switch (p.psv) {
            case 1: pred = a; break;
            case 2: pred = b; break;
            case 3: pred = cc; break;
            case 4: pred = a + b - cc; break;
            case 5: pred = a + ((b - cc) >> 1); break;
            case 6: pred = b + ((a - cc) >> 1); break;
            case 7: pred = (a + b) >> 1; break;
            default: throw std::logic_error("predictor");
          }
        }
        if (c <= sraw) last_luma = at(r, col, c);
        int diff = (at(r, col, c) - pred) & 0xFFFF;
        if (diff >= 32768) diff -= 65536;
        int len = DiffLength(diff);
        auto code = table_of(c).code.at(len);
        bw.Put(code.first, code.second);
        if (len == 16 && diff == -32768) {
          if (p.long_length16) bw.Put(32767, 16);
        } else if (len) {
          bw.Put(uint32_t(diff < 0 ? diff + (1 << len) - 1 : diff), len);
        }
      }
    }
  }
  bw.PadWithOnes();
  out.insert(out.end(), bw.bytes().begin(), bw.bytes().end());
  Marker(out, 0xD9);
  return out;
}

std::vector<uint8_t> EncodeCrw(const CrwParams& p, const std::vector<uint16_t>& samples) {
  const int w = p.sensor_width, h = p.sensor_height;
  const int64_t total = int64_t(w) * h;
  std::vector<uint8_t> file(p.low_bits ? 540 + total / 4 : 540, 0);
  std::vector<uint8_t> first(canon_crw_first_tree[p.table_set], canon_crw_first_tree[p.table_set] + 29);
  std::vector<uint8_t> second(canon_crw_second_tree[p.table_set],
                              canon_crw_second_tree[p.table_set] + 180);
  HuffCodes t0(first), t1(second);
  BitWriter bw(true);
  int base[2] = {0, 0}, carry = 0;
  int64_t pnum = 0;
  auto high = [&](int64_t i) { return p.low_bits ? samples[i] >> 2 : samples[i]; };
  auto put_diff = [&](const HuffCodes& t, int symbol, int diff, int len) {
    auto code = t.code.at(symbol);
    bw.Put(code.first, code.second);
    if (len) bw.Put(uint32_t(diff < 0 ? diff + (1 << len) - 1 : diff), len);
  };
  for (int64_t start = 0; start + 64 <= total; start += 64) {
    int diff[64];
    for (int i = 0; i < 64; ++i) {
      if (pnum++ % w == 0) base[0] = base[1] = 512;
      diff[i] = high(start + i) - base[i & 1];
      base[i & 1] = high(start + i);
    }
    int coded0 = diff[0] - carry;
    carry = diff[0];
    put_diff(t0, DiffLength(coded0), coded0, DiffLength(coded0));
    // A zero difference after the first is a run of one skipped position
    // before the next value, or the end of the block when none follows.
    int i = 1;
    while (i < 64) {
      int run = 0;
      while (i + run < 64 && diff[i + run] == 0) ++run;
      if (i + run == 64) {
        put_diff(t1, 0, 0, 0);
        break;
      }
      if (run > 15) throw std::logic_error("test data needs shorter zero runs");
      int len = DiffLength(diff[i + run]);
      int symbol = run << 4 | len;
      if (!t1.code.count(symbol)) throw std::logic_error("symbol not in the table");
      put_diff(t1, symbol, diff[i + run], len);
      i += run + 1;
    }
  }
  bw.PadWithOnes();
  file.insert(file.end(), bw.bytes().begin(), bw.bytes().end());
  if (p.low_bits) {
    // Two low bits per sample, four samples a byte from the lowest bits up,
    // each band of 8 rows at 26 + band row x width / 4.
    for (int64_t i = 0; i < total; i += 4) {
      uint8_t b = 0;
      for (int k = 0; k < 4; ++k) b |= uint8_t((samples[i + k] & 3) << (2 * k));
      file[size_t(26 + i / 4)] = b;
    }
    Marker(file, 0xD9);  // an 0xFF followed by a non-zero byte: low bits present
  } else {
    Marker(file, 0x00);  // only stuffed 0xFF bytes: no low bits
  }
  if (file.size() < 0x4000) file.resize(0x4000, 0);
  return file;
}

MemoryContext::MemoryContext(std::vector<uint8_t> data) : ctx(raw_context_create()), bytes(std::move(data)) {
  stream.data = bytes.data();
  stream.size = bytes.size();
  raw_set_stream(ctx.get(), &raw_memory_ops, &stream);
}

}  // namespace rawtest
