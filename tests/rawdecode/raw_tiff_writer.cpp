#include "raw_tiff_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include "tests/needed_programs.h"

namespace rawtest {

void ByteSink::F32(float f) {
  uint32_t bits;
  memcpy(&bits, &f, 4);
  U32(bits);
}

TiffIfd::Entry& TiffIfd::Add(uint16_t tag, uint16_t type, uint32_t count) {
  entries_.push_back(Entry{tag, type, count, {}, 0, nullptr, {}, false, false});
  return entries_.back();
}

TiffIfd& TiffIfd::Short(uint16_t tag, std::vector<uint32_t> values) {
  ByteSink s(little_);
  for (uint32_t v : values) s.U16(v);
  Add(tag, 3, uint32_t(values.size())).data = s.bytes;
  return *this;
}
TiffIfd& TiffIfd::SShort(uint16_t tag, std::vector<int32_t> values) {
  ByteSink s(little_);
  for (int32_t v : values) s.U16(uint16_t(v));
  Add(tag, 8, uint32_t(values.size())).data = s.bytes;
  return *this;
}
TiffIfd& TiffIfd::Long(uint16_t tag, std::vector<uint32_t> values) {
  ByteSink s(little_);
  for (uint32_t v : values) s.U32(v);
  Add(tag, 4, uint32_t(values.size())).data = s.bytes;
  return *this;
}
TiffIfd& TiffIfd::Rational(uint16_t tag, std::vector<std::pair<uint32_t, uint32_t>> values) {
  ByteSink s(little_);
  for (auto [n, d] : values) {
    s.U32(n);
    s.U32(d);
  }
  Add(tag, 5, uint32_t(values.size())).data = s.bytes;
  return *this;
}
TiffIfd& TiffIfd::SRational(uint16_t tag, std::vector<std::pair<int32_t, int32_t>> values) {
  ByteSink s(little_);
  for (auto [n, d] : values) {
    s.U32(uint32_t(n));
    s.U32(uint32_t(d));
  }
  Add(tag, 10, uint32_t(values.size())).data = s.bytes;
  return *this;
}
TiffIfd& TiffIfd::Float(uint16_t tag, std::vector<float> values) {
  ByteSink s(little_);
  for (float v : values) s.F32(v);
  Add(tag, 11, uint32_t(values.size())).data = s.bytes;
  return *this;
}
TiffIfd& TiffIfd::Ascii(uint16_t tag, const std::string& text) {
  std::vector<uint8_t> b(text.begin(), text.end());
  b.push_back(0);
  Add(tag, 2, uint32_t(b.size())).data = b;
  return *this;
}
TiffIfd& TiffIfd::Bytes(uint16_t tag, uint16_t type, std::vector<uint8_t> bytes) {
  Add(tag, type, uint32_t(bytes.size())).data = std::move(bytes);
  return *this;
}
TiffIfd& TiffIfd::Blob(uint16_t tag, uint16_t type, size_t size,
                       std::function<std::vector<uint8_t>(uint32_t)> make, uint32_t count) {
  Entry& e = Add(tag, type, count ? count : uint32_t(size));
  e.blob_size = std::max<size_t>(size, 5);  // always out of line
  e.make = std::move(make);
  return *this;
}
TiffIfd& TiffIfd::Pointers(uint16_t tag, std::vector<TiffIfd*> targets) {
  Entry& e = Add(tag, tag == 330 ? 4 : 4, uint32_t(targets.size()));
  e.targets = std::move(targets);
  return *this;
}
TiffIfd& TiffIfd::Strip(std::vector<uint8_t> data) {
  strip_ = std::move(data);
  Add(273, 4, 1).strip_offset = true;
  Long(279, {uint32_t(strip_.size())});
  return *this;
}
TiffIfd& TiffIfd::Pieces(bool tiles, std::vector<std::vector<uint8_t>> pieces, std::vector<size_t> order,
                         uint16_t type) {
  if (order.empty())
    for (size_t i = 0; i < pieces.size(); ++i) order.push_back(i);
  piece_rel_.assign(pieces.size(), 0);
  strip_.clear();
  for (size_t i : order) {
    piece_rel_[i] = uint32_t(strip_.size());
    strip_.insert(strip_.end(), pieces[i].begin(), pieces[i].end());
    if (strip_.size() & 1) strip_.push_back(0);
  }
  Add(tiles ? 324 : 273, type, uint32_t(pieces.size())).piece_offsets = true;
  std::vector<uint32_t> counts;
  for (const auto& p : pieces) counts.push_back(uint32_t(p.size()));
  if (type == 3) return Short(tiles ? 325 : 279, counts);
  Long(tiles ? 325 : 279, counts);
  return *this;
}
TiffIfd& TiffIfd::Image(uint32_t width, uint32_t height, uint32_t bits, uint32_t compression,
                        uint32_t photometric, uint32_t samples) {
  Long(256, {width});
  Long(257, {height});
  Short(258, std::vector<uint32_t>(samples, bits));
  Short(259, {compression});
  Short(262, {photometric});
  Short(277, {samples});
  return *this;
}

TiffIfd& TiffWriter::NewIfd(bool chained) {
  ifds_.push_back(TiffIfd(little_));
  if (chained) chain_.push_back(&ifds_.back());
  return ifds_.back();
}

namespace {
size_t Even(size_t n) { return (n + 1) & ~size_t{1}; }
}  // namespace

std::vector<uint8_t> TiffWriter::Bytes() {
  for (TiffIfd& d : ifds_)
    std::stable_sort(d.entries_.begin(), d.entries_.end(),
                     [](const TiffIfd::Entry& a, const TiffIfd::Entry& b) { return a.tag < b.tag; });
  // Layout: header, then per directory its table, its out-of-line values,
  // its strip.
  size_t at = 8;
  std::vector<std::vector<size_t>> value_at(ifds_.size());
  std::vector<size_t> strip_at(ifds_.size());
  for (size_t i = 0; i < ifds_.size(); ++i) {
    TiffIfd& d = ifds_[i];
    d.position_ = uint32_t(at);
    at += 2 + 12 * d.entries_.size() + 4;
    for (auto& e : d.entries_) {
      size_t size = e.blob_size          ? e.blob_size
                    : e.piece_offsets    ? (e.type == 3 ? 2 : 4) * size_t(e.count)
                    : e.targets.empty()  ? e.data.size()
                                         : 4 * e.targets.size();
      if (size > 4) {
        value_at[i].push_back(at);
        at = Even(at + size);
      } else {
        value_at[i].push_back(0);
      }
    }
    strip_at[i] = at;
    d.strip_at_ = uint32_t(at);
    at = Even(at + d.strip_.size());
  }
  ByteSink out(little_);
  out.Text(little_ ? "II" : "MM");
  out.U16(42);
  out.U32(chain_.empty() ? 0 : chain_[0]->position_);
  for (size_t i = 0; i < ifds_.size(); ++i) {
    TiffIfd& d = ifds_[i];
    out.PadTo(d.position_);
    out.U16(uint32_t(d.entries_.size()));
    std::vector<std::vector<uint8_t>> values;
    for (size_t k = 0; k < d.entries_.size(); ++k) {
      auto& e = d.entries_[k];
      std::vector<uint8_t> v;
      if (e.make) {
        v = e.make(uint32_t(value_at[i][k]));
        v.resize(e.blob_size);
      } else if (!e.targets.empty()) {
        ByteSink s(little_);
        for (TiffIfd* t : e.targets) s.U32(t->position_);
        v = s.bytes;
      } else if (e.piece_offsets) {
        ByteSink s(little_);
        for (uint32_t rel : d.piece_rel_) {
          if (e.type == 3)
            s.U16(uint32_t(strip_at[i] + rel));
          else
            s.U32(uint32_t(strip_at[i] + rel));
        }
        v = s.bytes;
      } else if (e.strip_offset) {
        ByteSink s(little_);
        s.U32(uint32_t(strip_at[i]));
        v = s.bytes;
      } else {
        v = e.data;
      }
      out.U16(e.tag);
      out.U16(e.type);
      out.U32(e.count);
      if (v.size() > 4) {
        out.U32(uint32_t(value_at[i][k]));
      } else {
        v.resize(4);
        out.Raw(v);
        v.clear();
      }
      values.push_back(v);
    }
    // the next directory of the chain
    auto it = std::find(chain_.begin(), chain_.end(), &d);
    out.U32(it != chain_.end() && it + 1 != chain_.end() ? (*(it + 1))->position_ : 0);
    for (size_t k = 0; k < values.size(); ++k) {
      if (values[k].empty()) continue;
      out.PadTo(value_at[i][k]);
      out.Raw(values[k]);
    }
    out.PadTo(strip_at[i]);
    out.Raw(d.strip_);
  }
  out.PadTo(Even(out.bytes.size()));
  return out.bytes;
}

std::string WriteTempFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  auto dir = std::filesystem::temp_directory_path() / ("pw_raw_parse_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  auto path = (dir / name).string();
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path;
}

std::string RunCommand(const std::string& command, int* status) {
  std::string out;
  if (!pwtest::CheckProgramOf(command)) {
    *status = -1;
    return out;
  }
  FILE* p = popen(command.c_str(), "r");
  if (!p) {
    *status = -1;
    return out;
  }
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  *status = pclose(p);
  return out;
}

}  // namespace rawtest
