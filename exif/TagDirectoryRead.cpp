// Reading a directory: 12-byte file entries into typed entries, then the
// thumbnail data, then the sub-directories. Every offset is checked against
// the stream before it is followed; entries that cannot be read are dropped.
#include <algorithm>
#include <cstring>

#include "exif/TagDirectory.h"

namespace {

constexpr uint32_t kMaxEntries = 8191;

// SHORT values of these tags are widened to LONG on reading.
bool WidensToLong(uint32_t tag) {
  return tag == 256 || tag == 257 || tag == 273 || tag == 278 || tag == 279;
}

uint8_t ReverseBits(uint8_t b) {
  b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  b = static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
  return b;
}

template <typename Scalar>
std::unique_ptr<ExifTagEntry> MakeEntry(uint32_t tag, uint16_t type, std::vector<Scalar>&& values) {
  const uint32_t count = static_cast<uint32_t>(values.size());
  if (count == 1) return std::make_unique<ExifTagEntryT<Scalar>>(tag, type, 1, values[0]);
  return std::make_unique<ExifTagEntryT<std::vector<Scalar>>>(tag, type, count, std::move(values));
}

}  // namespace

ExifResult TagDirectory::Read(ExifStream* stream) {
  stream->SetFlags(stream->Flags() & ~ExifStream::kStripsPrepared);
  if (position_ == 0) return kExifOk;
  if (!stream->SeekTo(position_)) return kExifReadFailed;
  uint16_t count = 0;
  if (!stream->ReadU16(&count)) return kExifReadFailed;
  if (count > kMaxEntries) return kExifReadFailed;
  if (readState_ != nullptr) {
    readState_->valueBytes += 12 * static_cast<int64_t>(count);
    if (readState_->valueBytes > DirectoryReadLimits::kMaxValueBytes) return kExifReadFailed;
  }
  std::vector<uint8_t> raw(static_cast<size_t>(count) * 12);
  if (!stream->ReadBytes(raw.data(), static_cast<int64_t>(raw.size()))) return kExifReadFailed;
  uint32_t next = 0;
  nextOffset_ = stream->ReadU32(&next) ? next : 0;
  if (count == 0) return kExifOk;

  for (uint32_t i = 0; i < count; ++i) {
    if (auto e = DecodeEntry(stream, &raw[i * 12])) SetEntry(std::move(e));
  }
  ReadThumbnail(stream);

  for (auto& [tag, dirs] : subdirs_) {
    for (auto& d : dirs) {
      const ExifResult st = d->Read(stream);
      if (st != kExifOk) return st;
    }
  }
  return kExifOk;
}

std::unique_ptr<ExifTagEntry> TagDirectory::DecodeEntry(ExifStream* stream, const uint8_t raw[12]) {
  uint16_t tag16, type;
  uint32_t count, field;
  memcpy(&tag16, raw, 2);
  memcpy(&type, raw + 2, 2);
  memcpy(&count, raw + 4, 4);
  memcpy(&field, raw + 8, 4);
  const uint32_t tag = stream->Order16(tag16);
  type = stream->Order16(type);
  count = stream->Order32(count);
  field = stream->Order32(field);

  if (type == kTiffIfd) type = kTiffLong;  // an IFD offset is a LONG for everything here
  if (count == 0 || type == 0 || type > kTiffDouble) return nullptr;
  const uint32_t esize = TiffTypeSize(type);
  const uint64_t size = static_cast<uint64_t>(count) * esize;

  std::vector<uint8_t> data;
  if (size <= 4) {
    data.assign(raw + 8, raw + 8 + size);
  } else {
    const int64_t at = base_ + static_cast<int64_t>(field);
    if (static_cast<uint64_t>(at) + size > static_cast<uint64_t>(stream->SizeOf())) return nullptr;
    if (readState_ != nullptr) {
      readState_->valueBytes += static_cast<int64_t>(size);
      if (readState_->valueBytes > DirectoryReadLimits::kMaxValueBytes) return nullptr;
    }
    data.resize(size);
    if (!stream->SeekTo(at) || !stream->ReadBytes(data.data(), static_cast<int64_t>(size))) return nullptr;
  }

  const uint8_t* p = data.data();
  auto u16 = [&](uint32_t i) { uint16_t v; memcpy(&v, p + 2 * i, 2); return stream->Order16(v); };
  auto u32 = [&](uint32_t i) { uint32_t v; memcpy(&v, p + 4 * i, 4); return stream->Order32(v); };

  switch (type) {
    case kTiffByte:
      return MakeEntry<unsigned char>(tag, type, std::vector<unsigned char>(p, p + count));
    case kTiffSByte:
    case kTiffUndefined:
      return MakeEntry<char>(tag, type, std::vector<char>(p, p + count));
    case kTiffAscii: {
      // The count stays as stored: a text some writer stored without its
      // closing zero is written back so, not one byte longer.
      const uint32_t n = p[count - 1] == 0 ? count - 1 : count;
      std::string text(reinterpret_cast<const char*>(p), n);
      return std::make_unique<ExifEntryText>(tag, type, count, std::move(text));
    }
    case kTiffShort: {
      if (WidensToLong(tag)) {
        std::vector<unsigned int> v(count);
        for (uint32_t i = 0; i < count; ++i) v[i] = u16(i);
        return MakeEntry<unsigned int>(tag, kTiffLong, std::move(v));
      }
      std::vector<unsigned short> v(count);
      for (uint32_t i = 0; i < count; ++i) v[i] = u16(i);
      return MakeEntry<unsigned short>(tag, type, std::move(v));
    }
    case kTiffSShort: {
      std::vector<short> v(count);
      for (uint32_t i = 0; i < count; ++i) v[i] = static_cast<short>(u16(i));
      return MakeEntry<short>(tag, type, std::move(v));
    }
    case kTiffLong: {
      std::vector<unsigned int> v(count);
      for (uint32_t i = 0; i < count; ++i) v[i] = u32(i);
      return MakeEntry<unsigned int>(tag, type, std::move(v));
    }
    case kTiffSLong: {
      std::vector<int> v(count);
      for (uint32_t i = 0; i < count; ++i) v[i] = static_cast<int>(u32(i));
      return MakeEntry<int>(tag, type, std::move(v));
    }
    case kTiffFloat: {
      std::vector<float> v(count);
      for (uint32_t i = 0; i < count; ++i) {
        const uint32_t bits = u32(i);
        memcpy(&v[i], &bits, 4);
      }
      return MakeEntry<float>(tag, type, std::move(v));
    }
    case kTiffRational: {
      std::vector<float> v(count);
      std::vector<uint32_t> pairs(2 * size_t{count});
      for (uint32_t i = 0; i < count; ++i) {
        const uint32_t num = u32(2 * i), den = u32(2 * i + 1);
        pairs[2 * i] = num;
        pairs[2 * i + 1] = den;
        if (num == 0) { v[i] = 0; continue; }
        if (den == 0) return nullptr;
        v[i] = static_cast<float>(num) / static_cast<float>(den);
      }
      auto entry = MakeEntry<float>(tag, type, std::move(v));
      entry->KeepStoredFractions(std::move(pairs));
      return entry;
    }
    case kTiffSRational: {
      std::vector<float> v(count);
      std::vector<uint32_t> pairs(2 * size_t{count});
      for (uint32_t i = 0; i < count; ++i) {
        const int32_t num = static_cast<int32_t>(u32(2 * i)), den = static_cast<int32_t>(u32(2 * i + 1));
        pairs[2 * i] = static_cast<uint32_t>(num);
        pairs[2 * i + 1] = static_cast<uint32_t>(den);
        if (den == 0) return nullptr;
        v[i] = static_cast<float>(num) / static_cast<float>(den);
      }
      auto entry = MakeEntry<float>(tag, type, std::move(v));
      entry->KeepStoredFractions(std::move(pairs));
      return entry;
    }
    case kTiffDouble: {
      std::vector<double> v(count);
      memcpy(v.data(), p, size);
      stream->SwapDoubles(v.data(), count);
      return MakeEntry<double>(tag, type, std::move(v));
    }
    default:
      return nullptr;
  }
}

void TagDirectory::ReadThumbnail(ExifStream* stream) {
  // Without a Compression tag, offset and length still say where JPEG bytes
  // are; they are kept so that the rewrite can put them back and point at
  // them, rather than leave the offset pointing into whatever moved there.
  if (!cache_.Has(StructureTagCache::kCompression) && !IsUntypedJpegThumbnail()) return;
  const uint32_t compression = cache_.First(StructureTagCache::kCompression, 6);
  if (compression == 1) {
    ReadStripThumbnail(stream);
  } else if (compression == 6 && cache_.Has(StructureTagCache::kJpegOffset) &&
             cache_.Has(StructureTagCache::kJpegLength)) {
    const uint32_t length = cache_.First(StructureTagCache::kJpegLength, 0);
    const int64_t at = base_ + cache_.First(StructureTagCache::kJpegOffset, 0);
    if (length < 1 || length > 65534) return;
    if (at + static_cast<int64_t>(length) > stream->SizeOf()) return;
    std::vector<uint8_t> bytes(length);
    if (stream->SeekTo(at) && stream->ReadBytes(bytes.data(), length)) thumbnailBytes_ = std::move(bytes);
  }
}

void TagDirectory::ReadStripThumbnail(ExifStream* stream) {
  if (!cache_.Has(StructureTagCache::kWidth) || !cache_.Has(StructureTagCache::kLength)) return;
  const uint64_t width = cache_.First(StructureTagCache::kWidth, 0);
  const uint64_t length = cache_.First(StructureTagCache::kLength, 0);
  const uint64_t samples = cache_.First(StructureTagCache::kSamples, 1);
  // Each factor is checked first so that the product cannot wrap.
  if (samples == 0 || samples > 4 || width > 65520 || length > 65520 || width * length * samples > 65520) return;
  auto img = std::make_unique<ThumbnailImage>();
  if (img->Allocate(static_cast<int32_t>(width), static_cast<int32_t>(length),
                    static_cast<uint16_t>(samples)) != kExifOk) {
    return;
  }
  if (!cache_.Has(StructureTagCache::kStripOffsets) || !cache_.Has(StructureTagCache::kStripByteCounts)) return;
  const std::vector<int64_t> offsets = cache_.slot[StructureTagCache::kStripOffsets]->Integers();
  const std::vector<int64_t> counts = cache_.slot[StructureTagCache::kStripByteCounts]->Integers();
  uint64_t rows = cache_.First(StructureTagCache::kRowsPerStrip, 0);
  if (rows == 0 || rows == 0xFFFFFFFFu) rows = length;  // one strip for the whole image
  const uint64_t rowBytes = RowBytes();
  const uint64_t imageRow = width * samples;
  const bool reverse = (stream->Flags() & ExifStream::kFillOrderMask) == ExifStream::kFillLsbFirst;
  if (cache_.First(StructureTagCache::kPlanar, 1) == 2) {
    // Separate planes: all strips of the first sample, then of the next.
    // Only 8-bit samples can be woven into the interleaved buffer.
    if (cache_.First(StructureTagCache::kBitsPerSample, 8) != 8) return;
    const uint64_t stripsPerPlane = (length + rows - 1) / rows;
    std::vector<uint8_t> line(width);
    for (uint64_t p = 0; p < samples; ++p) {
      for (uint64_t r = 0; r < length; ++r) {
        const uint64_t strip = p * stripsPerPlane + r / rows;
        if (strip >= offsets.size() || strip >= counts.size()) return;
        const uint64_t stripRows = std::min(rows, length - (r - r % rows));
        // A strip too short for its rows: no picture rather than a partial one.
        if (counts[strip] < static_cast<int64_t>(width * stripRows) || offsets[strip] < 0) return;
        const int64_t at = base_ + offsets[strip] + static_cast<int64_t>(width * (r % rows));
        if (!stream->SeekTo(at) || !stream->ReadBytes(line.data(), static_cast<int64_t>(width))) return;
        if (reverse) std::transform(line.begin(), line.end(), line.begin(), ReverseBits);
        uint8_t* dst = img->pixels.data() + r * imageRow + p;
        for (uint64_t x = 0; x < width; ++x) dst[x * samples] = line[x];
      }
    }
    thumbnailImage_ = std::move(img);
    return;
  }
  for (uint64_t r = 0; r < length; ++r) {
    const uint64_t strip = r / rows;
    if (strip >= offsets.size() || strip >= counts.size()) return;
    const int64_t byteCount = counts[strip];
    if (byteCount < 1) return;
    const uint64_t n = std::min<uint64_t>({rowBytes, static_cast<uint64_t>(byteCount), imageRow});
    const int64_t at = base_ + offsets[strip] + static_cast<int64_t>(n * (r - strip * rows));
    uint8_t* dst = img->pixels.data() + r * imageRow;
    if (!stream->SeekTo(at) || !stream->ReadBytes(dst, static_cast<int64_t>(n))) return;
    if (reverse) std::transform(dst, dst + n, dst, ReverseBits);
  }
  thumbnailImage_ = std::move(img);
}
