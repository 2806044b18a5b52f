// Opening a JPEG file: the marker scan that collects the APPn segments,
// comments, frame header and tables, and the tag operations on the
// collected segments.
#include "exif/ExifImageFile.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "exif/ExifJpegCodec.h"
#include "exif/JpegMarkers.h"
#include "platform/byteorder.h"

namespace {

// Position in natural (row-major) order of the k-th zigzag coefficient.
constexpr uint8_t kZigzagToNatural[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

std::unique_ptr<ExifTagEntry> UndefinedBytes(uint32_t tag, const char (&bytes)[4]) {
  return std::make_unique<ExifEntryS8Vec>(tag, kTiffUndefined, 4, std::vector<char>(bytes, bytes + 4));
}

}  // namespace

// ---- ExifImageFile ----------------------------------------------------------

ExifImageFile::ExifImageFile() {
  quality = 90;
  auto add = [&](std::unique_ptr<ExifTagEntry> e) { defaultTags_[e->Tag()] = std::move(e); };
  add(std::make_unique<ExifEntryFloat>(282, kTiffRational, 1, 72.0f));
  add(std::make_unique<ExifEntryFloat>(283, kTiffRational, 1, 72.0f));
  add(std::make_unique<ExifEntryU16>(296, kTiffShort, 1, static_cast<unsigned short>(2)));
  add(std::make_unique<ExifEntryU16>(531, kTiffShort, 1, static_cast<unsigned short>(1)));
  add(UndefinedBytes(36864, {'0', '2', '1', '0'}));
  add(UndefinedBytes(37121, {1, 2, 3, 0}));
  add(UndefinedBytes(40960, {'0', '1', '0', '0'}));
  add(std::make_unique<ExifEntryU16>(40961, kTiffShort, 1, static_cast<unsigned short>(1)));
  add(std::make_unique<ExifEntryU32>(40962, kTiffLong, 1, 0u));
  add(std::make_unique<ExifEntryU32>(40963, kTiffLong, 1, 0u));
}

// Only an explicit Close writes an edit back: a caller that returns early
// (an error, an exception) leaves the file as it was.
ExifImageFile::~ExifImageFile() { Discard(); }

void ExifImageFile::ReleaseAll() {
  ExifOpenFile::Close();
  ReleasePixelRoad();
  segments_.Clear();
  comments_.clear();
}

void ExifImageFile::Discard() { ReleaseAll(); }

ExifResult ExifImageFile::OpenImage(const char* mode) {
  openStatus_ = kExifOk;
  ExifStream* s = stream_.get();
  uint32_t fill = ExifStream::kFillMsbFirst;
  for (const char* c = mode ? mode : "r"; *c; ++c) {
    if (*c == 'B' || *c == 'H') fill = ExifStream::kFillMsbFirst;
    else if (*c == 'L') fill = ExifStream::kFillLsbFirst;
  }
  s->SetFlags((s->Flags() & ~ExifStream::kFillOrderMask) | fill);
  segments_.Clear();
  comments_.clear();
  s->SetByteOrder(true);  // JPEG markers are big-endian

  ExifResult status;
  if (s->Mode() == ExifStream::kModeNew) {
    status = AddDefaultExifSegment();
  } else if (s->Mode() == ExifStream::kModeEdit && (s->Flags() & ExifStream::kMemory) == 0 && HeadCheck()) {
    status = ScanMarkers();
  } else if (s->Mode() == ExifStream::kModeEdit) {
    // No JFIF or EXIF segment up front: the file gets a new EXIF segment
    // with the default tags and its frame size. Its other segments and
    // comments are still collected, so that the rewrite keeps them.
    status = ScanMarkers();
    if (status == kExifOk && segments_.FindSegment(nullptr, 0xFFE1, "Exif", false) == nullptr) {
      status = AddDefaultExifSegment();
      // The frame size from the decoder's header read.
      if (status == kExifOk && OpenDecoder() != kExifOk) status = kExifWriteFailed;
      if (status == kExifOk) {
        PutExifTag(ExifEntryU32(40962, kTiffLong, 1, static_cast<unsigned>(width)));
        PutExifTag(ExifEntryU32(40963, kTiffLong, 1, static_cast<unsigned>(height)));
      }
    }
  } else {
    status = ScanMarkers();
  }
  openStatus_ = status;
  return status;
}

bool ExifImageFile::HeadCheck() {
  ExifStream* s = stream_.get();
  JpegMarkerWalker walker(s);
  if (walker.StartOfImage() != kExifOk) return false;
  for (;;) {
    JpegMarker m;
    if (walker.Next(&m) != JpegMarkerWalker::kMarker || !IsAppMarker(m.code) || !walker.ReadLength(&m))
      return false;
    char id[5];
    if (m.length >= 7 && s->ReadBytes(id, 5)) {
      if (m.code == 0xE0 && memcmp(id, "JFIF", 5) == 0) return true;
      if (m.code == 0xE1 && memcmp(id, "Exif", 5) == 0) return true;
    }
    if (m.length < 2) return false;
    walker.Pass(m);
  }
}

ExifResult ExifImageFile::ScanMarkers() {
  ExifStream* s = stream_.get();
  JpegMarkerWalker walker(s);
  const ExifResult start = walker.StartOfImage();
  if (start != kExifOk) return start;
  // APPn segments and comments after the first other marker travel with
  // the image data; collecting them too would write them twice.
  bool inImageData = false;
  for (;;) {
    JpegMarker m;
    const JpegMarkerWalker::Step step = walker.Next(&m);
    if (step == JpegMarkerWalker::kEnd) return kExifOk;
    if (step == JpegMarkerWalker::kNotMarker || m.code < 0xC0) {
      // Not a marker: look for the next one. The rewrite takes an FF here
      // as the start of the image data, so whatever follows travels with
      // it and is not collected.
      if (step == JpegMarkerWalker::kMarker) inImageData = true;
      if (!walker.FindNextMarker(m.position + 1)) return kExifOk;
      continue;
    }
    if (IsStandaloneMarker(m.code)) {
      if (m.code == 0xD9) return kExifOk;
      walker.Pass(m);
      continue;
    }
    if (!walker.ReadLength(&m)) return kExifOk;
    if (m.length < 2) return kExifReadFailed;
    const int64_t body = m.length - 2;
    ExifResult status = kExifOk;
    switch (m.code) {
      case 0xC0: case 0xC1: case 0xC2: case 0xC9: case 0xCA:
        status = ReadFrameHeader(body);
        break;
      case 0xC4:
        status = ReadHuffmanTables(body);
        break;
      case 0xDB:
        status = ReadQuantTables(body);
        break;
      case 0xDA:
        return kExifOk;
      case 0xFE:
        if (!inImageData) {
          std::vector<uint8_t> text(static_cast<size_t>(body));
          if (!s->ReadBytes(text.data(), body)) return kExifReadFailed;
          comments_.push_back(std::move(text));
        }
        break;
      default:
        if (IsAppMarker(m.code) && !inImageData) status = ReadAppSegment(m.position, 0xFF00 | m.code, m.length);
        break;
    }
    if (status != kExifOk) return status;
    if (!IsAppOrCommentMarker(m.code)) inImageData = true;
    walker.Pass(m);
  }
}

ExifResult ExifImageFile::ReadFrameHeader(int64_t body) {
  ExifStream* s = stream_.get();
  uint8_t h[6];
  if (body < 6 || !s->ReadBytes(h, 6)) return kExifReadFailed;
  precision = h[0];
  height = pw::LoadBE16(h + 1);
  width = pw::LoadBE16(h + 3);
  components = h[5];
  if (components > 4) return kExifBadData;
  if (6 + 3 * static_cast<int64_t>(components) > body) return kExifReadFailed;
  uint8_t c[4][3];
  for (int i = 0; i < components; ++i) {
    if (!s->ReadBytes(c[i], 3)) return kExifReadFailed;
  }
  // Ids are usually 0..3 or 1..3, and then a component is kept under its
  // id. Adobe CMYK numbers them 1..4 and some encoders use 'R','G','B':
  // when any id is above 3, every component of the frame is kept by its
  // place, so that these pictures can have their tags edited like any
  // other and no component takes another one's slot.
  bool byId = true;
  for (int i = 0; i < components; ++i) byId = byId && c[i][0] <= 3;
  for (int i = 0; i < components; ++i) {
    const int slot = byId ? c[i][0] : i;
    sampling[slot] = c[i][1];
    quantTableNo[slot] = c[i][2];
  }
  return kExifOk;
}

ExifResult ExifImageFile::ReadHuffmanTables(int64_t body) {
  ExifStream* s = stream_.get();
  if (!tables) tables = std::make_unique<JpegTableRecord>();
  int64_t left = body;
  while (left > 0) {
    uint8_t head[17];
    if (left < 17) return kExifBadData;
    if (!s->ReadBytes(head, 17)) return kExifReadFailed;
    left -= 17;
    const uint8_t id = head[0];
    const bool dc = id <= 3;
    if (!dc && (id < 16 || id > 19)) return kExifBadData;
    int total = 0;
    for (int i = 1; i <= 16; ++i) total += head[i];
    if (total > 256 || total > left) return kExifBadData;
    JpegTableRecord::Huffman& t = dc ? tables->dc[id] : tables->ac[id - 16];
    memcpy(t.counts, head + 1, 16);
    memset(t.values, 0, sizeof t.values);
    if (!s->ReadBytes(t.values, total)) return kExifReadFailed;
    left -= total;
    if (DeriveHuffmanLookup(t.counts, t.values, dc, &t.lookup) != kExifOk) return kExifBadHuffman;
    t.set = true;
  }
  return kExifOk;
}

ExifResult ExifImageFile::ReadQuantTables(int64_t body) {
  ExifStream* s = stream_.get();
  if (!tables) tables = std::make_unique<JpegTableRecord>();
  int64_t left = body;
  while (left > 0) {
    uint8_t pq;
    if (!s->ReadBytes(&pq, 1)) return kExifReadFailed;
    left -= 1;
    const int no = pq & 0x0F;
    if (no > 3) return kExifBadData;
    const bool wide = (pq >> 4) != 0;
    const int64_t need = wide ? 128 : 64;
    if (need > left) return kExifReadFailed;
    uint8_t raw[128];
    if (!s->ReadBytes(raw, need)) return kExifReadFailed;
    left -= need;
    for (int k = 0; k < 64; ++k) {
      tables->quant[no][kZigzagToNatural[k]] = wide ? pw::LoadBE16(raw + 2 * k) : raw[k];
    }
    tables->quantSet[no] = true;
  }
  return kExifOk;
}

ExifResult ExifImageFile::ReadAppSegment(int64_t markerPos, uint16_t marker, uint16_t length) {
  ExifStream* s = stream_.get();
  // The identifier is looked for only inside the segment.
  const int64_t n = std::min<int64_t>(128, length - 2);
  char head[128];
  if (!s->ReadBytes(head, n)) return kExifReadFailed;
  std::string identifier = "INVALID";
  const void* nul = memchr(head, 0, static_cast<size_t>(std::min<int64_t>(n, 128)));
  if (nul != nullptr) identifier.assign(head, static_cast<const char*>(nul) - head);
  if (identifier.size() > 127) identifier.resize(127);
  auto seg = std::make_unique<ExifRawAppSeg>(marker, identifier);
  if (!s->SeekTo(markerPos)) return kExifReadFailed;
  const ExifResult st = seg->Read(s, length, 0);
  if (st != kExifOk) return st;
  segments_.Insert(std::move(seg));
  return kExifOk;
}

// ---- tags -------------------------------------------------------------------

ExifResult ExifImageFile::AddDefaultExifSegment() {
  auto seg = std::make_unique<ExifTiffAppSeg>(0xFFE1, "Exif");
  seg->InitDefaultHeader();
  ExifTiffAppSeg* tiff = seg.get();
  segments_.Insert(std::move(seg));
  const ExifResult st = tiff->CreateDirectoryPath({{0, 0}, {34665, 0}});
  if (st != kExifOk) return st;
  TagDirectory* exifDir = tiff->FindDirectory({{0, 0}, {34665, 0}});
  if (exifDir == nullptr) return kExifNoExifDir;
  for (uint32_t t : {36864u, 37121u, 40960u, 40961u, 40962u, 40963u}) {
    if (auto entry = DefaultTag(t)) exifDir->SetEntry(std::move(entry));
  }
  TagDirectory* main = tiff->FindDirectory({{0, 0}});
  if (main == nullptr) return kExifNoMainDir;
  for (uint32_t t : {282u, 283u, 296u, 531u}) main->SetEntry(DefaultTag(t));
  return kExifOk;
}

namespace {

// The profile's description ('desc' tag, ICC v2 text or v4 multi-
// language record) as plain ASCII; empty when it is not in this chunk.
std::string ProfileDescription(const std::vector<uint8_t>& bytes, size_t start) {
  auto u32 = [&](size_t at) -> uint32_t {
    return at + 4 <= bytes.size() ? pw::LoadBE32(bytes.data() + at) : 0;
  };
  const size_t table = start + 128;
  const uint32_t count = u32(table);
  for (uint32_t i = 0; i < count && i < 256; ++i) {
    const size_t entry = table + 4 + 12 * size_t{i};
    if (entry + 12 > bytes.size()) break;
    if (u32(entry) != 0x64657363) continue;  // 'desc'
    const size_t at = start + u32(entry + 4), size = u32(entry + 8);
    if (at >= bytes.size() || size > bytes.size() - at || size < 12) return std::string();
    std::string text;
    if (u32(at) == 0x64657363) {  // 'desc': count, then ASCII
      const size_t length = std::min<size_t>(u32(at + 8), size - 12);
      text.assign(bytes.begin() + at + 12, bytes.begin() + at + 12 + length);
    } else if (u32(at) == 0x6D6C7563 && size >= 28) {  // 'mluc': first record, UTF-16
      const size_t length = u32(at + 20), offset = u32(at + 24);
      if (offset > size || length > size - offset) return std::string();
      for (size_t k = 0; k + 1 < length; k += 2) {
        const uint8_t high = bytes[at + offset + k], low = bytes[at + offset + k + 1];
        text.push_back(high == 0 ? static_cast<char>(low) : '?');
      }
    }
    return text;
  }
  return std::string();
}

// True when the profile's description names it sRGB ("sRGB" as a word of
// its own: "esRGB" is another space).
bool IsSrgbProfile(const ExifAppSegment& segment) {
  const auto* raw = dynamic_cast<const ExifRawAppSeg*>(&segment);
  if (raw == nullptr) return false;
  const std::string text = ProfileDescription(raw->Bytes(), 2 + 12 + 2);
  for (size_t at = text.find("sRGB"); at != std::string::npos; at = text.find("sRGB", at + 1)) {
    const bool wordStart = at == 0 || !std::isalnum(static_cast<unsigned char>(text[at - 1]));
    const bool wordEnd = at + 4 == text.size() || !std::isalnum(static_cast<unsigned char>(text[at + 4]));
    if (wordStart && wordEnd) return true;
  }
  return false;
}

}  // namespace

// A default is written only where it is true of this picture.
// ComponentsConfiguration says which components there are; ColorSpace
// sRGB is false beside a colour profile of another space (Adobe RGB, a
// CMYK profile): that picture is "uncalibrated" (0xFFFF) in EXIF's terms.
std::unique_ptr<ExifTagEntry> ExifImageFile::DefaultTag(uint32_t tag) {
  if (tag == 37121) {
    // Y Cb Cr for three components, Y alone for one; four (CMYK) have no
    // EXIF name.
    if (components == 1) return UndefinedBytes(37121, {1, 0, 0, 0});
    if (components != 3) return nullptr;
  }
  if (tag == 40961) {
    bool otherProfile = false;
    for (const ExifAppSegment* segment : segments_.Segments()) {
      if (segment->Marker() != 0xFFE2 || segment->Identifier() != "ICC_PROFILE") continue;
      if (!IccProfileColourSpace(*segment).empty() && !IsSrgbProfile(*segment)) otherProfile = true;
    }
    if (otherProfile) return std::make_unique<ExifEntryU16>(40961, kTiffShort, 1, static_cast<unsigned short>(0xFFFF));
  }
  return ResolutionOrDefaultTag(tag);
}

// A new EXIF block must not contradict the JFIF header beside it: readers
// that prefer EXIF would take a 300-dpi scan for 72 dpi. JFIF units 0, 1
// and 2 (aspect ratio only, dots per inch, per centimetre) are EXIF
// resolution units 1, 2 and 3.
std::unique_ptr<ExifTagEntry> ExifImageFile::ResolutionOrDefaultTag(uint32_t tag) {
  if (tag == 282 || tag == 283 || tag == 296) {
    const auto* jfif = dynamic_cast<const ExifApp0Seg*>(segments_.FindSegment(nullptr, 0xFFE0, "JFIF", true));
    if (jfif != nullptr && jfif->units <= 2 && jfif->xDensity != 0 && jfif->yDensity != 0) {
      if (tag == 296) {
        return std::make_unique<ExifEntryU16>(296, kTiffShort, 1, static_cast<unsigned short>(jfif->units + 1));
      }
      const float density = tag == 282 ? jfif->xDensity : jfif->yDensity;
      return std::make_unique<ExifEntryFloat>(tag, kTiffRational, 1, density);
    }
  }
  return defaultTags_[tag]->Clone();
}

ExifResult ExifImageFile::ApplyTagList(const std::string& identifier, const DirectoryTagList& list) {
  ExifAppSegment* seg = segments_.FindSegment(nullptr, 0xFFE1, identifier, true);
  if (seg != nullptr) {
    auto* tiff = dynamic_cast<ExifTiffAppSeg*>(seg);
    if (tiff == nullptr) return kExifNotDone;
    return tiff->ApplyTagList(list);
  }
  ExifTiffAppSeg* tiff = nullptr;
  if (identifier == "Exif") {
    // A new EXIF segment starts from the defaults, so that what is written
    // is a complete EXIF block even when the list is small.
    const ExifResult st = AddDefaultExifSegment();
    if (st != kExifOk) return st;
    tiff = dynamic_cast<ExifTiffAppSeg*>(segments_.FindSegment(nullptr, 0xFFE1, identifier, false));
  } else {
    auto fresh = std::make_unique<ExifTiffAppSeg>(0xFFE1, identifier);
    fresh->InitDefaultHeader();
    tiff = fresh.get();
    segments_.Insert(std::move(fresh));
  }
  if (tiff == nullptr) return kExifNoSegment;
  return tiff->ApplyTagList(list);
}

ExifResult ExifImageFile::PutTagInDirectory(const ExifTagEntry& entry, uint16_t marker,
                                            const std::string& identifier, const TagDirectoryPath& path) {
  ExifAppSegment* seg = segments_.FindSegment(nullptr, marker, identifier, true);
  auto* tiff = dynamic_cast<ExifTiffAppSeg*>(seg);
  if (tiff == nullptr) {
    // A segment of that name that is not TIFF-structured is left alone: a
    // second, empty one beside it would only confuse readers.
    if (seg != nullptr) return kExifNotDone;
    if (marker == 0xFFE1 && identifier == "Exif") {
      if (AddDefaultExifSegment() != kExifOk) return kExifNotDone;
    } else {
      auto fresh = std::make_unique<ExifTiffAppSeg>(marker, identifier);
      fresh->InitDefaultHeader();
      segments_.Insert(std::move(fresh));
    }
    tiff = dynamic_cast<ExifTiffAppSeg*>(segments_.FindSegment(nullptr, marker, identifier, true));
    if (tiff == nullptr) return kExifNotDone;
  }
  TagDirectory* dir = tiff->FindDirectory(path);
  if (dir == nullptr) {
    // A main or EXIF directory made here for an EXIF segment that lacked
    // it gets the tags every EXIF reader requires, as a new segment does.
    const TagDirectoryPath mainPath = {{0, 0}}, exifPath = {{0, 0}, {34665, 0}};
    const bool exifSegment = marker == 0xFFE1 && identifier == "Exif";
    const bool hadMain = tiff->FindDirectory(mainPath) != nullptr;
    const bool hadExif = tiff->FindDirectory(exifPath) != nullptr;
    const ExifResult st = tiff->CreateDirectoryPath(path);
    if (st != kExifOk) return st;
    dir = tiff->FindDirectory(path);
    if (dir == nullptr) return kExifBadPath;
    if (exifSegment && !hadMain) AddMissingDefaults(tiff->FindDirectory(mainPath), {282u, 283u, 296u, 531u});
    if (exifSegment && !hadExif) {
      AddMissingDefaults(tiff->FindDirectory(exifPath), {36864u, 37121u, 40960u, 40961u, 40962u, 40963u});
    }
  }
  dir->SetEntry(entry.Clone());
  return kExifOk;
}

void ExifImageFile::AddMissingDefaults(TagDirectory* dir, std::initializer_list<uint32_t> tags) {
  if (dir == nullptr) return;
  for (uint32_t t : tags) {
    if (dir->GetEntry(t) != nullptr) continue;
    if (auto entry = DefaultTag(t)) dir->SetEntry(std::move(entry));
  }
}

ExifResult ExifImageFile::PutExifTag(const ExifTagEntry& entry) {
  uint16_t marker;
  std::string identifier;
  TagDirectoryPath path;
  const ExifResult st = DirectoryKindToPath(kDirExif, &marker, &identifier, &path);
  if (st != kExifOk) return st;
  return PutTagInDirectory(entry, marker, identifier, path);
}

ExifResult DirectoryKindToPath(int kind, uint16_t* marker, std::string* identifier, TagDirectoryPath* path) {
  *marker = 0xFFE1;
  *identifier = "Exif";
  switch (kind) {
    case kDirMain: *path = {{0, 0}}; break;
    case kDirExif: *path = {{0, 0}, {34665, 0}}; break;
    case kDirInterop: *path = {{0, 0}, {34665, 0}, {40965, 0}}; break;
    case kDirGps: *path = {{0, 0}, {34853, 0}}; break;
    case kDirThumbnail: *path = {{0, 1}}; break;
    case kDirMeta: *marker = 0xFFE3; *identifier = "Meta"; *path = {{0, 0}}; break;
    case kDirMetaSub: *marker = 0xFFE3; *identifier = "Meta"; *path = {{0, 0}, {50843, 0}}; break;
    default: return kExifBadDirKind;
  }
  return kExifOk;
}
