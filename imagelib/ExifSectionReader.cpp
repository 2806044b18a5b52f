#include "imagelib/ExifSectionReader.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "imagelib/PxFile.h"
#include "platform/byteorder.h"

namespace {

// Sizes in bytes of the TIFF field types 0 to 12.
constexpr int kFormatSize[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
constexpr int kMaxNesting = 4;

bool IsStartOfFrame(int marker) {
  return (marker >= 0xC0 && marker <= 0xC3) || (marker >= 0xC5 && marker <= 0xC7) ||
         (marker >= 0xC9 && marker <= 0xCB) || (marker >= 0xCD && marker <= 0xCF);
}

// Copies at most maxChars bytes of a text value, never past its byte count
// and never past a NUL, and terminates the field.
void CopyText(char* field, size_t fieldSize, const uint8_t* value, uint64_t byteCount,
              size_t maxChars) {
  size_t n = 0;
  size_t limit = maxChars < fieldSize ? maxChars : fieldSize - 1;
  if (byteCount < limit) limit = static_cast<size_t>(byteCount);
  while (n < limit && value[n] != 0) {
    field[n] = static_cast<char>(value[n]);
    ++n;
  }
  field[n] = 0;
}

// A tag's value is a double of any size (or NaN) from the file; it is cut
// toward zero as before, but into the target's range rather than past it.
template <typename Int>
Int ClampToInt(double v) {
  if (!(v == v)) return 0;
  if (v <= static_cast<double>(std::numeric_limits<Int>::min())) return std::numeric_limits<Int>::min();
  if (v >= static_cast<double>(std::numeric_limits<Int>::max())) return std::numeric_limits<Int>::max();
  return static_cast<Int>(v);
}

}  // namespace

ExifSectionReader::ExifSectionReader(ExifSummary* summary) : m_summary(summary) {
  if (!m_summary) {
    m_summary = &m_ownSummary;
    m_ownsSummary = true;
  }
}

void ExifSectionReader::SetError(const char* text) {
  std::snprintf(m_lastError, sizeof(m_lastError), "%s", text);
}

uint16_t ExifSectionReader::Read16(const uint8_t* p) const {
  return m_motorolaOrder ? pw::LoadBE16(p) : pw::LoadLE16(p);
}

uint32_t ExifSectionReader::Read32(const uint8_t* p) const {
  return m_motorolaOrder ? pw::LoadBE32(p) : pw::LoadLE32(p);
}

bool ExifSectionReader::HoldSection(std::vector<uint8_t>&& data, int32_t marker, int32_t size) {
  if (m_sectionCount >= kMaxSections) {
    SetError("Too many sections in jpg file");
    return false;
  }
  JpegSection& s = m_sections[m_sectionCount++];
  s.data = std::move(data);
  s.marker = marker;
  s.size = size;
  return true;
}

bool ExifSectionReader::ReadSections(PxFile* file, int flags) {
  if (!file) return false;
  if (file->GetByte() != 0xFF || file->GetByte() != 0xD8) return false;

  bool haveComment = false;
  while (m_sectionCount < kMaxSections) {
    int marker = 0;
    int padding = 0;
    for (;;) {
      marker = file->GetByte();
      if (marker != 0xFF) break;
      if (++padding >= 7) {
        std::printf("too many padding bytes\n");
        return false;
      }
    }
    if (marker < 0) {
      SetError("Premature end of file?");
      return false;
    }
    const int hi = file->GetByte();
    const int lo = file->GetByte();
    if (hi < 0 || lo < 0) {
      SetError("Premature end of file?");
      return false;
    }
    const int32_t length = (hi << 8) | lo;
    if (length < 2) {
      SetError("invalid marker");
      return false;
    }
    std::vector<uint8_t> data;
    try {
      data.resize(static_cast<size_t>(length));
    } catch (const std::bad_alloc&) {
      SetError("Could not allocate memory");
      return false;
    }
    data[0] = static_cast<uint8_t>(hi);
    data[1] = static_cast<uint8_t>(lo);
    if (length > 2 && file->ReadBlock(data.data() + 2, 1, static_cast<uint32_t>(length - 2)) !=
                          static_cast<size_t>(length - 2)) {
      SetError("Premature end of file?");
      return false;
    }

    if (IsStartOfFrame(marker)) {
      // A start of frame too short to hold the size keeps the old values.
      if (length >= 8) {
        m_summary->height = (data[3] << 8) | data[4];
        m_summary->width = (data[5] << 8) | data[6];
        m_summary->isColor = data[7] == 3 ? 1 : 0;
        m_summary->process = marker;
      }
      if (!HoldSection(std::move(data), marker, length)) return false;
      continue;
    }
    switch (marker) {
      case 0xD9:
        std::printf("No image in jpeg!\n");
        return false;
      case 0xDA: {
        if (!HoldSection(std::move(data), marker, length)) return false;
        if (!(flags & kReadImageData)) return true;
        const int32_t here = file->Position();
        const int32_t total = file->TotalSize();
        if (here < 0 || total < here) {
          SetError("could not read the rest of the image");
          return false;
        }
        const int32_t rest = total - here;
        std::vector<uint8_t> image;
        try {
          image.resize(static_cast<size_t>(rest));
        } catch (const std::bad_alloc&) {
          SetError("could not allocate data for entire image");
          return false;
        }
        if (rest > 0 && file->ReadBlock(image.data(), 1, static_cast<uint32_t>(rest)) !=
                            static_cast<size_t>(rest)) {
          SetError("could not read the rest of the image");
          return false;
        }
        return HoldSection(std::move(image), kImageDataMarker, rest);
      }
      case 0xE0:
        break;  // JFIF headers are rewritten by the encoder, not kept
      case 0xE1:
        if ((flags & kDigestExif) && length >= 6 && std::memcmp(data.data() + 2, "Exif", 4) == 0) {
          if (!HoldSection(std::move(data), marker, length)) return false;
          JpegSection& held = m_sections[m_sectionCount - 1];
          m_summary->present = ParseExif(held.data.data() + 2, static_cast<uint32_t>(length - 2));
        }
        break;
      case 0xFE:
        if ((flags & kDigestExif) && !haveComment) {
          haveComment = true;
          ProcessComment(data.data(), length);
          if (!HoldSection(std::move(data), marker, length)) return false;
        }
        break;
      default:
        if (!HoldSection(std::move(data), marker, length)) return false;
        break;
    }
  }
  SetError("Too many sections in jpg file");
  return false;
}

bool ExifSectionReader::ParseExif(uint8_t* data, uint32_t length) {
  m_summary->flashUsed = 0;
  m_summary->comments[0] = 0;
  m_exifImageWidth = 0;
  m_visitedDirs.clear();

  // "Exif\0\0" and the 8-byte TIFF header must both be there.
  if (length < 14 || std::memcmp(data, "Exif\0\0", 6) != 0) {
    SetError("Incorrect Exif header");
    return false;
  }
  if (data[6] == 'I' && data[7] == 'I') {
    m_motorolaOrder = 0;
  } else if (data[6] == 'M' && data[7] == 'M') {
    m_motorolaOrder = 1;
  } else {
    SetError("Invalid Exif alignment marker.");
    return false;
  }
  if (Read16(data + 8) != 42) {
    SetError("Invalid Exif start (1)");
    return false;
  }
  m_tiffBase = data + 6;
  m_tiffLength = length - 6;
  const uint32_t firstOffset = Read32(data + 10);

  if (!ProcessDirectory(8, 0, false)) return false;
  if (firstOffset >= 9 && !m_visitedDirs.count(firstOffset) && !ProcessDirectory(firstOffset, 0, false))
    return false;

  if (m_summary->focalPlaneXRes != 0.0f) {
    m_summary->ccdWidth = static_cast<float>(m_exifImageWidth) * m_summary->focalPlaneUnits /
                          m_summary->focalPlaneXRes;
  }
  return true;
}

// Follows a sub-directory or next-directory link. False only for a link that
// points outside the data; too deep or already visited links are skipped.
bool ExifSectionReader::FollowLink(uint32_t offset, int depth, bool thumbnailSide) {
  if (offset >= m_tiffLength) {
    SetError("Illegal subdirectory link");
    return false;
  }
  if (depth + 1 > kMaxNesting) {
    SetError("Maximum directory nesting exceeded (corrupt exif header)");
    return true;
  }
  if (m_visitedDirs.count(offset)) return true;
  ProcessDirectory(offset, depth + 1, thumbnailSide);
  return true;
}

// The directories reached through a next-directory link (IFD1, the
// thumbnail's, and anything below or after it) describe the thumbnail: its
// resolution, unit and orientation are not the picture's, and cameras
// commonly state 72 dpi there whatever the picture says. Only the
// thumbnail's offset and length are taken from them.
bool ExifSectionReader::ProcessDirectory(uint32_t dirOffset, int depth, bool thumbnailSide) {
  m_visitedDirs.insert(dirOffset);
  if (uint64_t{dirOffset} + 2 > m_tiffLength) {
    SetError("Illegally sized directory");
    return false;
  }
  const uint8_t* start = m_tiffBase + dirOffset;
  const uint32_t count = Read16(start);
  if (uint64_t{dirOffset} + 2 + 12ull * count + 4 > m_tiffLength) {
    SetError("Illegally sized directory");
    return false;
  }

  uint32_t thumbOffset = 0;
  uint32_t thumbLength = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = start + 2 + 12 * i;
    const uint32_t tag = Read16(entry);
    const uint32_t format = Read16(entry + 2);
    const uint32_t components = Read32(entry + 4);
    if (format > 12) {
      SetError("Illegal format code in EXIF dir");
      return false;
    }
    // 64-bit so that a huge component count cannot wrap into a small size.
    const uint64_t byteCount = uint64_t{components} * kFormatSize[format];
    const uint8_t* value = entry + 8;
    if (byteCount > 4) {
      const uint32_t offset = Read32(entry + 8);
      if (uint64_t{offset} + byteCount > m_tiffLength) {
        SetError("Illegal pointer offset value in EXIF.");
        return false;
      }
      value = m_tiffBase + offset;
    }

    if (tag == 34665 || tag == 40965) {
      if (components == 0) continue;
      const uint32_t offset = Read32(entry + 8);
      if (offset <= 8) continue;
      if (!FollowLink(offset, depth, thumbnailSide)) return false;
      continue;
    }
    if (thumbnailSide && tag != 513 && tag != 514) continue;
    ApplyTag(tag, format, value, byteCount, thumbOffset, thumbLength);
  }

  const uint32_t link = Read32(start + 2 + 12 * count);
  if (link != 0 && !FollowLink(link, depth, true)) return false;

  if (thumbOffset != 0 && thumbLength != 0 &&
      uint64_t{thumbOffset} + thumbLength <= m_tiffLength) {
    m_summary->thumbnailPointer = m_tiffBase + thumbOffset;
    m_summary->thumbnailSize = static_cast<int32_t>(thumbLength);
  }
  return true;
}

void ExifSectionReader::ApplyTag(uint32_t tag, uint32_t format, const uint8_t* value,
                                 uint64_t byteCount, uint32_t& thumbOffset,
                                 uint32_t& thumbLength) {
  ExifSummary& s = *m_summary;
  // Text tags are copied only as far as their value goes.
  switch (tag) {
    case 271: CopyText(s.cameraMake, sizeof(s.cameraMake), value, byteCount, 31); return;
    case 272: CopyText(s.cameraModel, sizeof(s.cameraModel), value, byteCount, 39); return;
    case 36864: CopyText(s.version, sizeof(s.version), value, byteCount, 4); return;
    case 36867: CopyText(s.dateTime, sizeof(s.dateTime), value, byteCount, 19); return;
    case 37510: {
      // Trailing spaces become NULs, then the text after an "ASCII" code.
      // The work is done on a copy: the held section is written back by a
      // save that keeps it, and must go out as it came in.
      std::vector<uint8_t> copy(value, value + byteCount);
      uint8_t* text = copy.data();
      for (uint64_t i = byteCount; i > 0 && text[i - 1] == ' '; --i) text[i - 1] = 0;
      uint64_t from = 0;
      if (byteCount >= 5 && std::memcmp(text, "ASCII", 5) == 0) {
        from = byteCount;
        for (uint64_t i = 5; i < 10 && i < byteCount; ++i) {
          if (text[i] != 0 && text[i] != ' ') {
            from = i;
            break;
          }
        }
      }
      if (from < byteCount) CopyText(s.comments, sizeof(s.comments), text + from, byteCount - from, 199);
      return;
    }
    default: break;
  }
  // Numeric tags need at least one whole value; shorter ones are ignored.
  if (format == 0 || byteCount < static_cast<uint64_t>(kFormatSize[format])) return;
  const double v = ConvertValue(value, format);
  switch (tag) {
    case 274:
      if (v < 1 || v > 8) {
        SetError("Undefined rotation value");
        s.orientation = 0;
      } else {
        s.orientation = static_cast<int32_t>(v);
      }
      break;
    case 282: s.xResolution = static_cast<float>(v); break;
    case 283: s.yResolution = static_cast<float>(v); break;
    case 296:
    case 41488: {
      float& unit = tag == 296 ? s.resolutionUnit : s.focalPlaneUnits;
      const int u = ClampToInt<int>(v);
      if (u == 1 || u == 2) unit = 1.0f;
      else if (u == 3) unit = 0.3937008f;
      else if (u == 4) unit = 0.03937008f;
      else if (u == 5) unit = 0.00003937008f;
      break;
    }
    case 513: thumbOffset = ClampToInt<uint32_t>(v); break;
    case 514: thumbLength = ClampToInt<uint32_t>(v); break;
    case 33434: s.exposureTime = static_cast<float>(v); break;
    case 33437: s.apertureFNumber = static_cast<float>(v); break;
    case 34850: s.exposureProgram = ClampToInt<int32_t>(v); break;
    case 34855: {
      int64_t iso = ClampToInt<int32_t>(v);
      if (iso < 50) iso *= 200;
      s.isoEquivalent = static_cast<int32_t>(std::clamp<int64_t>(iso, INT32_MIN, INT32_MAX));
      break;
    }
    case 37122: s.compressionLevel = ClampToInt<int32_t>(v); break;
    case 37377:
      if (s.exposureTime == 0.0f)
        s.exposureTime = static_cast<float>(1.0 / std::exp(v * static_cast<double>(std::log(2.0f))));
      break;
    case 37378:
    case 37381:
      if (s.apertureFNumber == 0.0f)
        s.apertureFNumber = static_cast<float>(std::exp(v * static_cast<double>(std::log(2.0f)) * 0.5));
      break;
    case 37379: s.brightness = static_cast<float>(v); break;
    case 37380: s.exposureBias = static_cast<float>(v); break;
    case 37382: s.distance = static_cast<float>(v); break;
    case 37383: s.meteringMode = ClampToInt<int32_t>(v); break;
    case 37384: s.lightSource = ClampToInt<int32_t>(v); break;
    case 37385: s.flashUsed = (ClampToInt<int64_t>(v) & 7) != 0 ? 1 : 0; break;
    case 37386: s.focalLength = static_cast<float>(v); break;
    case 40962:
    case 40963:
      if (v > m_exifImageWidth && v <= INT32_MAX) m_exifImageWidth = static_cast<int32_t>(v);
      break;
    case 41486: s.focalPlaneXRes = static_cast<float>(v); break;
    case 41487: s.focalPlaneYRes = static_cast<float>(v); break;
    default: break;
  }
}

double ExifSectionReader::ConvertValue(const uint8_t* value, uint32_t format) const {
  switch (format) {
    case 1: return value[0];
    case 6: return static_cast<int8_t>(value[0]);
    case 3: return Read16(value);
    case 8: return static_cast<int16_t>(Read16(value));
    case 4: return Read32(value);
    case 9: return static_cast<int32_t>(Read32(value));
    case 5:
    case 10: {
      const int32_t num = static_cast<int32_t>(Read32(value));
      const int32_t den = static_cast<int32_t>(Read32(value + 4));
      return den == 0 ? 0.0 : static_cast<double>(num) / den;
    }
    case 11: {
      float f;
      std::memcpy(&f, value, sizeof f);
      return f;
    }
    case 12: {
      double d;
      std::memcpy(&d, value, sizeof d);
      return d;
    }
    default: return 0.0;
  }
}

void ExifSectionReader::ProcessComment(const uint8_t* data, int32_t length) {
  char* out = m_summary->comments;
  int n = 0;
  const int32_t end = length >= 256 ? 255 : length;  // positions 2 .. end - 1
  for (int32_t i = 2; i < end && n < 253; ++i) {
    const uint8_t c = data[i];
    if (c == '\r' && i + 1 < end && data[i + 1] == '\n') continue;
    if ((c >= 32 && c < 127) || c == '\n' || c == '\t')
      out[n++] = static_cast<char>(c);
    else
      out[n++] = '?';
  }
  out[n] = 0;
}

void ExifSectionReader::KeepExifAndComment() {
  int app1 = -1, com = -1;
  for (int i = 0; i < m_sectionCount; ++i) {
    if (m_sections[i].marker == 0xE1 && app1 < 0) app1 = i;
    else if (m_sections[i].marker == 0xFE && com < 0) com = i;
  }
  JpegSection kept[2];
  int n = 0;
  if (app1 >= 0) kept[n++] = std::move(m_sections[app1]);
  if (com >= 0) kept[n++] = std::move(m_sections[com]);
  for (auto& s : m_sections) s = JpegSection{};
  for (int i = 0; i < n; ++i) m_sections[i] = std::move(kept[i]);
  m_sectionCount = n;
}

bool ExifSectionReader::WriteSections(PxFile* file) {
  bool haveScan = false;
  for (int i = 0; i + 1 < m_sectionCount; ++i)
    if (m_sections[i].marker == 0xDA) haveScan = true;
  if (!haveScan) {
    SetError("Can't write exif : didn't read all");
    return false;
  }
  static const uint8_t kSoi[2] = {0xFF, 0xD8};
  static const uint8_t kJfif[18] = {0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46, 0x00,
                                    0x01, 0x01, 0x01, 0x01, 0x2C, 0x01, 0x2C, 0x00, 0x00};
  bool ok = file->WriteBlock(kSoi, 1, 2) == 2;
  if (m_sections[0].marker != 0xE1 && m_sections[0].marker != 0xE0)
    ok = ok && file->WriteBlock(kJfif, 1, sizeof kJfif) == sizeof kJfif;
  for (int i = 0; i + 1 < m_sectionCount && ok; ++i) {
    const JpegSection& s = m_sections[i];
    const uint8_t head[2] = {0xFF, static_cast<uint8_t>(s.marker)};
    ok = file->WriteBlock(head, 1, 2) == 2 &&
         file->WriteBlock(s.data.data(), 1, static_cast<uint32_t>(s.data.size())) == s.data.size();
  }
  const JpegSection& last = m_sections[m_sectionCount - 1];
  if (ok && !last.data.empty())
    ok = file->WriteBlock(last.data.data(), 1, static_cast<uint32_t>(last.data.size())) == last.data.size();
  if (!ok) SetError("Write Error in JPEG file");
  return ok;
}
