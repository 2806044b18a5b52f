// Writing a directory at the end of a stream: the entry block, the value
// areas, the sub-directories and the thumbnail data, with every offset
// patched once the thing it points to has landed. Any short write makes
// Write return -1 so that the caller never reports a damaged segment as
// written.
#include <cmath>
#include <cstring>

#include "exif/ExifJpegImage.h"
#include "exif/TagDirectory.h"

namespace {

constexpr double kRationalTolerance = 1e-10;

bool IsOdd(int64_t v) { return (v & 1) != 0; }

bool PadToEven(ExifStream* s, int64_t base) {
  const int64_t end = s->SeekEnd();
  if (end < 0) return false;
  if (IsOdd(end - base)) {
    const uint8_t zero = 0;
    return s->WriteBytes(&zero, 1);
  }
  return true;
}

bool PatchU32(ExifStream* s, int64_t at, uint32_t value) {
  const int64_t back = s->Tell();
  const bool ok = s->SeekTo(at) && s->WriteU32(value);
  return ok && s->SeekTo(back);
}

// The value bytes of an entry, encoded by its type code, count elements long.
std::vector<uint8_t> EncodeValue(ExifStream* s, const ExifTagEntry& e) {
  const uint16_t type = e.Type();
  const uint32_t count = e.Count();
  std::vector<uint8_t> out;
  auto put16 = [&](uint16_t v) { v = s->Order16(v); const uint8_t* b = reinterpret_cast<uint8_t*>(&v); out.insert(out.end(), b, b + 2); };
  auto put32 = [&](uint32_t v) { v = s->Order32(v); const uint8_t* b = reinterpret_cast<uint8_t*>(&v); out.insert(out.end(), b, b + 4); };

  if (type == kTiffAscii) {
    std::string text;
    if (auto* t = dynamic_cast<const ExifEntryText*>(&e)) text = t->Value();
    // Zeros fill what the text leaves of the count; a text as long as the
    // count (stored so without its closing zero) is written as it came.
    out.assign(count, 0);
    if (count > 0) memcpy(out.data(), text.data(), std::min<size_t>(text.size(), count));
    return out;
  }
  const std::vector<int64_t> ints = e.Integers();
  const std::vector<double> nums = e.Numbers();
  auto intAt = [&](uint32_t i) -> int64_t { return i < ints.size() ? ints[i] : 0; };
  auto numAt = [&](uint32_t i) -> double { return i < nums.size() ? nums[i] : 0.0; };

  switch (type) {
    case kTiffShort:
    case kTiffSShort:
      for (uint32_t i = 0; i < count; ++i) put16(static_cast<uint16_t>(intAt(i)));
      break;
    case kTiffLong:
    case kTiffSLong:
      for (uint32_t i = 0; i < count; ++i) put32(static_cast<uint32_t>(intAt(i)));
      break;
    case kTiffFloat:
      for (uint32_t i = 0; i < count; ++i) {
        const float f = static_cast<float>(numAt(i));
        uint32_t bits;
        memcpy(&bits, &f, 4);
        put32(bits);
      }
      break;
    case kTiffRational:
    case kTiffSRational:
      if (const std::vector<uint32_t>* stored = e.StoredFractions()) {
        for (uint32_t word : *stored) put32(word);
        break;
      }
      if (type == kTiffSRational) {
        for (uint32_t i = 0; i < count; ++i) {
          const double v = numAt(i);
          uint32_t p, q;
          DoubleToRational(std::fabs(v), &p, &q, kRationalTolerance);
          // Keep the numerator within the signed range so the sign survives.
          if (p > 0x7FFFFFFFu) p = 0x7FFFFFFFu;
          const int32_t sp = v < 0 ? -static_cast<int32_t>(p) : static_cast<int32_t>(p);
          put32(static_cast<uint32_t>(sp));
          put32(q);
        }
        break;
      }
      for (uint32_t i = 0; i < count; ++i) {
        uint32_t p, q;
        DoubleToRational(numAt(i), &p, &q, kRationalTolerance);
        put32(p);
        put32(q);
      }
      break;
    case kTiffDouble:
      for (uint32_t i = 0; i < count; ++i) {
        double d = numAt(i);
        s->SwapDoubles(&d, 1);
        const uint8_t* b = reinterpret_cast<uint8_t*>(&d);
        out.insert(out.end(), b, b + 8);
      }
      break;
    default:  // BYTE, SBYTE, UNDEFINED and types the library does not know
      for (uint32_t i = 0; i < count; ++i) out.push_back(static_cast<uint8_t>(intAt(i)));
      break;
  }
  return out;
}

}  // namespace

void TagDirectory::PrepareThumbnailForWrite(ExifStream*) {
  const bool has = HasThumbnail();
  if (!has) {
    // A thumbnail directory whose data is gone must not point at any.
    if (cache_.Has(StructureTagCache::kCompression)) {
      for (uint32_t t : {513u, 514u, 256u, 257u, 258u, 262u, 277u, 278u, 284u}) RemoveEntry(t);
      // Strips that could not be read are not written either; their old
      // offsets would point into the new layout.
      RemoveEntry(273);
      RemoveEntry(279);
    } else {
      // Offset and length of JPEG bytes that are not here would point at
      // whatever lands at the old offset in the new layout.
      RemoveEntry(513);
      RemoveEntry(514);
    }
    return;
  }
  if (IsUntypedJpegThumbnail()) return;  // written back as they came, see Write
  const uint32_t compression = cache_.First(StructureTagCache::kCompression, 0);
  if (compression == 1) {
    if (!thumbnailImage_ && !thumbnailBytes_.empty()) thumbnailImage_ = DecodeJpegThumbnail(thumbnailBytes_);
    if (thumbnailImage_) {
      const uint32_t strips = StripsPerImage();
      if (strips > 0) {
        SetLongs(273, std::vector<uint32_t>(strips, 0));
        SetLongs(279, std::vector<uint32_t>(strips, 0));
      }
      RemoveEntry(513);
      RemoveEntry(514);
    }
  } else if (compression == 6) {
    for (uint32_t t : {256u, 257u, 258u, 262u, 277u, 278u, 284u, 273u, 279u}) RemoveEntry(t);
    if (!GetEntry(514)) SetEntry(std::make_unique<ExifEntryU32>(514, kTiffLong, 1, 0u));
    if (!GetEntry(513)) SetEntry(std::make_unique<ExifEntryU32>(513, kTiffLong, 1, 0u));
  }
}

int64_t TagDirectory::Write(ExifStream* stream, int64_t base, int64_t pointerPos) {
  PrepareThumbnailForWrite(stream);
  writeBase_ = base;
  pointerPos_ = pointerPos;
  patch273_ = patch279_ = patch513_ = patch514_ = -1;

  // Pointer entries without directories would point at nothing once the
  // data around them moves: they are left out.
  std::vector<const ExifTagEntry*> list;
  for (auto& [tag, e] : entries_) {
    if (IsSubDirectoryTag(tag)) {
      auto it = subdirs_.find(tag);
      if (it == subdirs_.end() || it->second.empty()) continue;
    }
    list.push_back(e.get());
  }
  const int64_t n = static_cast<int64_t>(list.size());
  if (n > 0xFFFF) return -1;

  if (!PadToEven(stream, base)) return -1;
  const int64_t position = stream->SeekEnd();
  if (position < 0 || position - base > 0xFFFFFFFFLL) return -1;
  if (!PatchU32(stream, pointerPos, static_cast<uint32_t>(position - base))) return -1;
  position_ = position;

  // Reserve the block; the values follow it and the entries are filled in
  // once their value offsets are known.
  std::vector<uint8_t> block(static_cast<size_t>(2 + 12 * n + 4), 0);
  if (!stream->SeekTo(position) || !stream->WriteBytes(block.data(), static_cast<int64_t>(block.size()))) return -1;
  if (!PadToEven(stream, base)) return -1;
  valueCursor_ = stream->SeekEnd();

  std::vector<std::pair<TagDirectory*, int64_t>> subPointers;
  entryCursor_ = position + 2;
  std::vector<uint8_t> entryBytes;
  entryBytes.reserve(static_cast<size_t>(12 * n));
  for (const ExifTagEntry* e : list) {
    uint8_t raw[12] = {};
    const int64_t fieldPos = entryCursor_ + 8;
    uint16_t type = e->Type();
    uint32_t count = e->Count();
    std::vector<uint8_t> value;
    std::vector<TagDirectory*> subs;
    const bool pointer = IsSubDirectoryTag(e->Tag()) && GetSubDirectories(e->Tag(), &subs) && !subs.empty();
    if (pointer) {
      type = kTiffLong;
      count = static_cast<uint32_t>(subs.size());
      value.assign(4 * subs.size(), 0);
    } else {
      value = EncodeValue(stream, *e);
    }
    int64_t valuePos = fieldPos;
    if (value.size() <= 4) {
      memcpy(raw + 8, value.data(), value.size());
    } else {
      valuePos = valueCursor_;
      if (!stream->SeekTo(valueCursor_) || !stream->WriteBytes(value.data(), static_cast<int64_t>(value.size()))) return -1;
      if (valuePos - base > 0xFFFFFFFFLL) return -1;
      const uint32_t off = stream->Order32(static_cast<uint32_t>(valuePos - base));
      memcpy(raw + 8, &off, 4);
      if (!PadToEven(stream, base)) return -1;
      valueCursor_ = stream->SeekEnd();
    }
    if (pointer) {
      for (size_t i = 0; i < subs.size(); ++i) subPointers.emplace_back(subs[i], valuePos + 4 * static_cast<int64_t>(i));
    }
    switch (e->Tag()) {
      case 273: patch273_ = valuePos; break;
      case 279: patch279_ = valuePos; break;
      case 513: patch513_ = valuePos; break;
      case 514: patch514_ = valuePos; break;
      default: break;
    }
    const uint16_t tag16 = stream->Order16(static_cast<uint16_t>(e->Tag()));
    const uint16_t type16 = stream->Order16(type);
    const uint32_t count32 = stream->Order32(count);
    memcpy(raw, &tag16, 2);
    memcpy(raw + 2, &type16, 2);
    memcpy(raw + 4, &count32, 4);
    entryBytes.insert(entryBytes.end(), raw, raw + 12);
    entryCursor_ += 12;
  }
  const int64_t afterValues = stream->SeekEnd();
  if (!stream->SeekTo(position) || !stream->WriteU16(static_cast<uint16_t>(n)) ||
      !stream->WriteBytes(entryBytes.data(), static_cast<int64_t>(entryBytes.size())) || !stream->WriteU32(0)) {
    return -1;
  }
  const int64_t nextField = position + 2 + 12 * n;
  if (!stream->SeekTo(afterValues)) return -1;

  for (auto& [dir, at] : subPointers) {
    if (dir->Write(stream, base, at) < 0) return -1;
  }

  if (HasThumbnail()) {
    const uint32_t compression = cache_.First(StructureTagCache::kCompression, 0);
    if (compression == 1 && thumbnailImage_) {
      if (!WriteStripThumbnail(stream, base)) return -1;
    } else if (compression == 6 || IsUntypedJpegThumbnail()) {
      if (!WriteJpegThumbnail(stream, base)) return -1;
    } else {
      thumbnailBytes_.clear();
    }
  }
  endPosition_ = stream->SeekEnd();
  return nextField;
}

bool TagDirectory::WriteJpegThumbnail(ExifStream* stream, int64_t base) {
  if (thumbnailBytes_.empty() && thumbnailImage_) thumbnailBytes_ = EncodeJpegThumbnail(*thumbnailImage_, 90);
  const int64_t at = stream->SeekEnd();
  if (at < 0) return false;
  if (!thumbnailBytes_.empty() &&
      !stream->WriteBytes(thumbnailBytes_.data(), static_cast<int64_t>(thumbnailBytes_.size()))) {
    return false;
  }
  const uint32_t offset = thumbnailBytes_.empty() ? 0 : static_cast<uint32_t>(at - base);
  const uint32_t length = static_cast<uint32_t>(thumbnailBytes_.size());
  thumbnailBytes_.clear();
  thumbnailBytes_.shrink_to_fit();
  if (patch513_ >= 0 && !PatchU32(stream, patch513_, offset)) return false;
  if (patch514_ >= 0 && !PatchU32(stream, patch514_, length)) return false;
  SetEntry(std::make_unique<ExifEntryU32>(513, kTiffLong, 1, offset));
  SetEntry(std::make_unique<ExifEntryU32>(514, kTiffLong, 1, length));
  return stream->SeekEnd() >= 0;
}

bool TagDirectory::WriteStripThumbnail(ExifStream* stream, int64_t base) {
  // Strips need a stream that may be written and a known layout.
  if ((stream->Mode() & (ExifStream::kModeEditBit | ExifStream::kModeNewBit)) == 0) return true;
  if (!GetEntry(256)) return true;
  const ThumbnailImage& img = *thumbnailImage_;
  const uint32_t strips = StripsPerImage();
  if (strips == 0) return true;
  uint64_t rows = cache_.First(StructureTagCache::kRowsPerStrip, 0);
  if (rows == 0 || rows == 0xFFFFFFFFu) rows = cache_.First(StructureTagCache::kLength, 0);
  if (rows == 0) return true;
  const uint64_t imageRow = static_cast<uint64_t>(img.components) * img.width;
  // Separate planes (8-bit samples, as the reader weaves them): each sample
  // has its own run of strips, one plane after the other.
  const bool planar = cache_.First(StructureTagCache::kPlanar, 1) == 2;
  const uint32_t planes = planar ? img.components : 1;
  if (planar && (planes == 0 || strips % planes != 0 || cache_.First(StructureTagCache::kBitsPerSample, 8) != 8 ||
                 cache_.First(StructureTagCache::kSamples, 0) != img.components)) {
    return true;
  }
  const uint64_t stripsPerPlane = strips / planes;
  const uint64_t rowBytes = planar ? static_cast<uint64_t>(img.width) : std::min<uint64_t>(RowBytes(), imageRow);
  const bool reverse = (stream->Flags() & ExifStream::kFillOrderMask) == ExifStream::kFillLsbFirst;
  stream->SetFlags(stream->Flags() | ExifStream::kStripsPrepared);

  std::vector<uint32_t> offsets(strips, 0), counts(strips, 0);
  const uint64_t length = cache_.First(StructureTagCache::kLength, 0);
  const uint64_t height = std::min<uint64_t>(static_cast<uint64_t>(img.height), length);
  for (uint64_t k = 0; k < planes * height; ++k) {
    const uint64_t plane = k / height, r = k % height;
    if (r / rows >= stripsPerPlane) break;
    const uint64_t strip = plane * stripsPerPlane + r / rows;
    const int64_t end = stream->SeekEnd();
    if (offsets[strip] == 0) offsets[strip] = static_cast<uint32_t>(end - base);
    else if (static_cast<int64_t>(offsets[strip]) + counts[strip] != end - base) break;
    std::vector<uint8_t> row;
    if (planar) {
      const uint8_t* src = img.pixels.data() + r * imageRow + plane;
      for (uint64_t x = 0; x < rowBytes; ++x) row.push_back(src[x * planes]);
    } else {
      row.assign(img.pixels.begin() + static_cast<int64_t>(r * imageRow),
                 img.pixels.begin() + static_cast<int64_t>(r * imageRow + rowBytes));
    }
    if (reverse) {
      for (auto& b : row) {
        uint8_t x = b, y = 0;
        for (int bit = 0; bit < 8; ++bit) { y = static_cast<uint8_t>((y << 1) | (x & 1)); x >>= 1; }
        b = y;
      }
    }
    if (!stream->WriteBytes(row.data(), static_cast<int64_t>(row.size()))) return false;
    counts[strip] += static_cast<uint32_t>(row.size());
  }
  auto patchArray = [&](int64_t at, const std::vector<uint32_t>& v) {
    if (at < 0) return true;
    for (size_t i = 0; i < v.size(); ++i) {
      if (!PatchU32(stream, at + 4 * static_cast<int64_t>(i), v[i])) return false;
    }
    return true;
  };
  if (!patchArray(patch273_, offsets) || !patchArray(patch279_, counts)) return false;
  SetLongs(273, offsets);
  SetLongs(279, counts);
  stream->SeekEnd();
  return true;
}
