#include "exif/ExifAppSegment.h"

#include <new>

#include "platform/byteorder.h"

namespace {
constexpr size_t kMaxIdentifier = 128;

bool WriteMarker(ExifStream* s, uint16_t marker) {
  uint8_t b[2];
  pw::StoreBE16(b, marker);
  return s->WriteBytes(b, 2);
}
}  // namespace

// ---- base -------------------------------------------------------------------

ExifAppSegment::ExifAppSegment(uint16_t marker, std::string identifier)
    : marker_(marker), identifier_(std::move(identifier)) {
  if (identifier_.size() > kMaxIdentifier) identifier_.resize(kMaxIdentifier);
}

ExifResult ExifAppSegment::Read(ExifStream*, uint16_t length, int64_t dataOffset) {
  length_ = length;
  dataOffset_ = dataOffset;
  return kExifOk;
}

void ExifAppSegment::EnterByteOrder(ExifStream* s) {
  savedFlags_ = s->Flags();
  savedBigEndian_ = s->BigEndian();
  s->SetFlags(ownFlags_);
  s->SetBigEndian(ownBigEndian_);
}

void ExifAppSegment::LeaveByteOrder(ExifStream* s) {
  ownFlags_ = s->Flags();
  ownBigEndian_ = s->BigEndian();
  s->SetFlags(savedFlags_);
  s->SetBigEndian(savedBigEndian_);
}

// ---- JFIF APP0 --------------------------------------------------------------

ExifApp0Seg::ExifApp0Seg(std::string identifier) : ExifAppSegment(0xFFE0, std::move(identifier)) {}

std::unique_ptr<ExifAppSegment> ExifApp0Seg::Clone() const { return std::make_unique<ExifApp0Seg>(*this); }

void ExifApp0Seg::EnterByteOrder(ExifStream* s) {
  savedFlags_ = s->Flags();
  savedBigEndian_ = s->BigEndian();
  s->SetByteOrder(true);  // JFIF data is big-endian
}

ExifResult ExifApp0Seg::Read(ExifStream* s, uint16_t length, int64_t dataOffset) {
  ExifAppSegment::Read(s, length, dataOffset);
  EnterByteOrder(s);
  bool ok = s->ReadU16(&version) && s->ReadBytes(&units, 1) && s->ReadU16(&xDensity) &&
            s->ReadU16(&yDensity) && s->ReadBytes(&thumbWidth, 1) && s->ReadBytes(&thumbHeight, 1);
  LeaveByteOrder(s);
  return ok ? kExifOk : kExifReadFailed;
}

ExifResult ExifApp0Seg::Write(ExifStream* s) {
  EnterByteOrder(s);
  uint8_t id[5] = {};
  for (size_t i = 0; i < 5 && i < identifier_.size(); ++i) id[i] = static_cast<uint8_t>(identifier_[i]);
  const uint8_t zero = 0;
  const bool ok = WriteMarker(s, 0xFFE0) && s->WriteU16(16) && s->WriteBytes(id, 5) && s->WriteU16(version) &&
                  s->WriteBytes(&units, 1) && s->WriteU16(xDensity) && s->WriteU16(yDensity) &&
                  s->WriteBytes(&zero, 1) && s->WriteBytes(&zero, 1);
  LeaveByteOrder(s);
  return ok ? kExifOk : kExifWriteFailed;
}

// ---- raw --------------------------------------------------------------------

std::unique_ptr<ExifAppSegment> ExifRawAppSeg::Clone() const { return std::make_unique<ExifRawAppSeg>(*this); }

ExifResult ExifRawAppSeg::Read(ExifStream* s, uint16_t length, int64_t dataOffset) {
  ExifAppSegment::Read(s, length, dataOffset);
  if (length < 2) return kExifReadFailed;
  uint8_t marker[2];
  if (!s->ReadBytes(marker, 2)) return kExifReadFailed;
  try {
    bytes_.assign(length, 0);
  } catch (const std::bad_alloc&) {
    return kExifNotDone;
  }
  if (!s->ReadBytes(bytes_.data(), length)) {
    bytes_.clear();
    return kExifReadFailed;
  }
  return kExifOk;
}

ExifResult ExifRawAppSeg::Write(ExifStream* s) {
  const bool ok = WriteMarker(s, marker_) && s->WriteBytes(bytes_.data(), static_cast<int64_t>(bytes_.size()));
  return ok ? kExifOk : kExifWriteFailed;
}

// ---- TIFF-structured --------------------------------------------------------

ExifTiffAppSeg::ExifTiffAppSeg(uint16_t marker, std::string identifier)
    : ExifAppSegment(marker, std::move(identifier)) {}

ExifTiffAppSeg::~ExifTiffAppSeg() = default;

std::unique_ptr<ExifAppSegment> ExifTiffAppSeg::Clone() const {
  // The copy shares nothing: it gets the header and byte order but no
  // directories (nothing in the library clones a parsed TIFF segment).
  auto copy = std::make_unique<ExifTiffAppSeg>(marker_, identifier_);
  copy->dataOffset_ = dataOffset_;
  copy->length_ = length_;
  copy->ownFlags_ = ownFlags_;
  copy->ownBigEndian_ = ownBigEndian_;
  copy->byteOrderMark = byteOrderMark;
  copy->magic = magic;
  copy->firstOffset = firstOffset;
  copy->isNew_ = isNew_;
  return copy;
}

void ExifTiffAppSeg::InitDefaultHeader() {
  byteOrderMark = 0x4949;
  magic = 42;
  firstOffset = 0;
  ownFlags_ = ExifStream::kFillMsbFirst;
  ownBigEndian_ = false;
  isNew_ = true;
}

std::string IccProfileColourSpace(const ExifAppSegment& segment) {
  const auto* raw = dynamic_cast<const ExifRawAppSeg*>(&segment);
  if (raw == nullptr || segment.Marker() != 0xFFE2 || segment.Identifier() != "ICC_PROFILE")
    return std::string();
  // Length field, "ICC_PROFILE\0", chunk number and count, then the profile.
  constexpr size_t kProfileStart = 2 + 12 + 2;
  const std::vector<uint8_t>& bytes = raw->Bytes();
  if (bytes.size() < kProfileStart + 20 || bytes[kProfileStart - 2] != 1) return std::string();
  return std::string(bytes.begin() + kProfileStart + 16, bytes.begin() + kProfileStart + 20);
}

void ExifTiffAppSeg::SetBigEndian(bool big) {
  byteOrderMark = big ? 0x4D4D : 0x4949;
  ownBigEndian_ = big;
  // The stream swaps multi-byte values when the order is not this machine's.
  const bool swap = big != (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__);
  ownFlags_ = swap ? (ownFlags_ | ExifStream::kSwap) : (ownFlags_ & ~ExifStream::kSwap);
}

void ExifTiffAppSeg::ApplyByteOrderMark(ExifStream* s) {
  s->SetByteOrder(byteOrderMark == 0x4D4D);
}

ExifResult ExifTiffAppSeg::Read(ExifStream* s, uint16_t length, int64_t dataOffset) {
  ExifAppSegment::Read(s, length, dataOffset);
  EnterByteOrder(s);
  s->SetFlags(s->Flags() | ExifStream::kFillMsbFirst);
  ExifResult status = kExifOk;
  if (s->Mode() == ExifStream::kModeNew) {
    InitDefaultHeader();
    ApplyByteOrderMark(s);
  } else {
    uint8_t h[8];
    if (!s->ReadBytes(h, 8)) {
      status = kExifReadFailed;
      if (s->Mode() == ExifStream::kModeEdit) {
        InitDefaultHeader();
        ApplyByteOrderMark(s);
      }
    } else {
      byteOrderMark = pw::LoadBE16(h);
      if (byteOrderMark == 0x4D4D || byteOrderMark == 0x4949) {
        ApplyByteOrderMark(s);
        const bool big = byteOrderMark == 0x4D4D;
        magic = big ? pw::LoadBE16(h + 2) : pw::LoadLE16(h + 2);
        firstOffset = big ? pw::LoadBE32(h + 4) : pw::LoadLE32(h + 4);
        if (magic != 42) status = kExifBadData;
        else ReadDirectoryChain(s);
      } else {
        status = kExifBadByteOrder;
      }
    }
  }
  LeaveByteOrder(s);
  return status;
}

void ExifTiffAppSeg::ReadDirectoryChain(ExifStream* s) {
  DirectoryReadState state;
  uint32_t offset = firstOffset;
  uint16_t index = 0;
  while (offset != 0 && offset < length_ && index < 0xFFFF &&
         state.directories < DirectoryReadLimits::kMaxDirectories) {
    const int64_t position = static_cast<int64_t>(offset) + dataOffset_;
    uint16_t count = 0;
    uint32_t next = 0;
    if (!s->SeekTo(position) || !s->ReadU16(&count) || count == 0) break;
    if (!s->SeekTo(position + 2 + 12 * static_cast<int64_t>(count)) || !s->ReadU32(&next)) next = 0;
    if (state.offsets.count(position)) break;
    auto dir = std::make_unique<TagDirectory>(0, index, position, dataOffset_, &state, nullptr);
    state.offsets[position] = dir.get();
    ++state.directories;
    TagDirectory* d = dir.get();
    directories_.push_back(std::move(dir));
    d->Read(s);  // a damaged directory keeps what could be read
    offset = next;
    ++index;
  }
  for (auto& d : directories_) d->EndRead();
}

ExifResult ExifTiffAppSeg::Write(ExifStream* s) {
  if (!WriteMarker(s, marker_)) return kExifWriteFailed;
  lengthFieldPos_ = s->Tell();
  const uint8_t placeholder[2] = {0, 0};
  if (!s->WriteBytes(placeholder, 2)) return kExifWriteFailed;
  uint8_t id[6] = {};
  for (size_t i = 0; i < 6 && i < identifier_.size(); ++i) id[i] = static_cast<uint8_t>(identifier_[i]);
  if (!s->WriteBytes(id, 6)) return kExifWriteFailed;

  EnterByteOrder(s);
  const int64_t base = s->Tell();
  uint8_t mark[2];
  pw::StoreBE16(mark, byteOrderMark);
  bool ok = base >= 0 && s->WriteBytes(mark, 2) && s->WriteU16(42) && s->WriteU32(0);
  int64_t pointerPos = base + 4;
  for (size_t i = 0; i < directories_.size() && ok; ++i) {
    TagDirectory* d = directories_[i].get();
    // A thumbnail directory without its thumbnail (tags copied from another
    // picture, or a thumbnail dropped to make the segment fit) would only
    // point at nothing: it is left out of the chain.
    if (i > 0 && d->IsThumbnailWithoutData()) continue;
    pointerPos = d->Write(s, base, pointerPos);
    ok = pointerPos >= 0;
  }
  int64_t end = s->SeekEnd();
  // Every item of the block starts on an even offset; a thumbnail of odd
  // length, the last item, is followed by a pad byte, as exiftool and
  // cameras write it, so a block read and written unchanged keeps its
  // length. A segment that could not hold the byte goes without it.
  if (ok && end >= 0 && (end - base) % 2 != 0 && end + 1 - lengthFieldPos_ <= 0xFFFF) {
    const uint8_t zero = 0;
    ok = s->WriteBytes(&zero, 1);
    end = s->SeekEnd();
  }
  LeaveByteOrder(s);
  if (!ok || end < 0) return kExifWriteFailed;

  // The length field counts itself; a segment cannot hold more than 65535.
  const int64_t length = end - lengthFieldPos_;
  if (length > 0xFFFF) return kExifWriteFailed;
  uint8_t len[2];
  pw::StoreBE16(len, static_cast<uint16_t>(length));
  if (!s->SeekTo(lengthFieldPos_) || !s->WriteBytes(len, 2)) return kExifWriteFailed;
  length_ = static_cast<uint16_t>(length);
  return s->SeekEnd() == end ? kExifOk : kExifWriteFailed;
}

TagDirectory* ExifTiffAppSeg::FindDirectory(const TagDirectoryPath& path) const {
  if (path.empty() || path[0].index >= directories_.size()) return nullptr;
  TagDirectory* dir = directories_[path[0].index].get();
  for (size_t i = 1; i < path.size() && dir != nullptr; ++i) {
    std::vector<TagDirectory*> subs;
    if (!dir->GetSubDirectories(path[i].tag, &subs) || path[i].index >= subs.size()) return nullptr;
    dir = subs[path[i].index];
  }
  return dir;
}

TagDirectory* ExifTiffAppSeg::AddTopDirectory() {
  directories_.push_back(std::make_unique<TagDirectory>(0, static_cast<uint16_t>(directories_.size()), 0,
                                                        dataOffset_, nullptr, nullptr));
  return directories_.back().get();
}

ExifResult ExifTiffAppSeg::CreateDirectoryPath(const TagDirectoryPath& path) {
  if (path.empty()) return kExifBadPath;
  if (path[0].index == directories_.size()) AddTopDirectory();
  else if (path[0].index > directories_.size()) return kExifBadPath;
  TagDirectory* dir = directories_[path[0].index].get();
  for (size_t i = 1; i < path.size(); ++i) {
    // Only pointer tags can hold directories; other steps name nothing.
    if (!IsSubDirectoryTag(path[i].tag)) return kExifNotSubDirTag;
    std::vector<TagDirectory*> subs;
    dir->GetSubDirectories(path[i].tag, &subs);
    if (subs.size() == path[i].index) {
      const ExifResult st = dir->AddSubDirectoryUnderTag(path[i].tag);
      if (st != kExifOk) return st;
      dir->GetSubDirectories(path[i].tag, &subs);
    } else if (subs.size() < path[i].index) {
      return kExifBadPath;
    }
    dir = subs[path[i].index];
  }
  return kExifOk;
}

ExifResult ExifTiffAppSeg::ApplyTagList(const DirectoryTagList& list) {
  for (const DirectoryTags& element : list) {
    TagDirectory* dir = FindDirectory(element.path);
    if (dir == nullptr && CreateDirectoryPath(element.path) == kExifOk) dir = FindDirectory(element.path);
    if (dir == nullptr) continue;
    for (const ExifTagEntry* e : element.entries) {
      if (e != nullptr) dir->SetEntry(e->Clone());
    }
  }
  return kExifOk;
}

void ExifTiffAppSeg::DropThumbnails() {
  for (auto& d : directories_) d->DropThumbnail();
}

// ---- factory and list -------------------------------------------------------

std::unique_ptr<ExifAppSegment> CreateAppSegment(uint16_t marker, const std::string& identifier) {
  if (marker == 0xFFE0) return std::make_unique<ExifApp0Seg>(identifier);
  if (marker == 0xFFE1 && identifier == "Exif") return std::make_unique<ExifTiffAppSeg>(marker, identifier);
  if (marker == 0xFFE3 &&
      (identifier == "EXIF" || identifier == "Exif" || identifier == "META" || identifier == "Meta")) {
    return std::make_unique<ExifTiffAppSeg>(marker, identifier);
  }
  return nullptr;
}

std::unique_ptr<ExifAppSegment> ParseSegmentKey(const std::string& key) {
  if (key.size() < 4) return nullptr;
  uint16_t marker = 0;
  for (int i = 0; i < 4; ++i) {
    const char c = key[i];
    int digit = 0;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    marker = static_cast<uint16_t>((marker << 4) | digit);
  }
  return CreateAppSegment(marker, key.substr(4));
}

void AppSegmentList::Insert(std::unique_ptr<ExifAppSegment> segment) {
  auto it = nodes_.begin();
  while (it != nodes_.end() && it->segment->Marker() <= segment->Marker()) ++it;
  Node node;
  node.parsed = !segment->IsRaw();
  node.segment = std::move(segment);
  nodes_.insert(it, std::move(node));
}

ExifAppSegment* AppSegmentList::FindSegment(const Node* after, uint16_t marker, const std::string& identifier,
                                            bool parse) {
  auto it = nodes_.begin();
  if (after != nullptr) {
    while (it != nodes_.end() && &*it != after) ++it;
    if (it != nodes_.end()) ++it;
  }
  for (; it != nodes_.end(); ++it) {
    if (it->segment->Marker() == marker && it->segment->Identifier() == identifier) {
      return parse ? ParseSegment(&*it) : it->segment.get();
    }
  }
  return nullptr;
}

ExifAppSegment* AppSegmentList::ParseSegment(Node* node) {
  ExifAppSegment* seg = node->segment.get();
  if (!seg->IsRaw() || node->parsed) return seg;
  node->parsed = true;  // a segment that fails to parse is not tried again
  char hex[5];
  snprintf(hex, sizeof hex, "%04X", seg->Marker());
  std::unique_ptr<ExifAppSegment> typed = ParseSegmentKey(hex + seg->Identifier());
  if (!typed) return seg;
  auto* raw = static_cast<ExifRawAppSeg*>(seg);
  std::vector<uint8_t>& bytes = raw->Bytes();
  ExifResult status = kExifOk;
  ExifStream mem(&status, bytes.data(), static_cast<int64_t>(bytes.size()), "r+");
  if (status != kExifOk) return seg;
  int64_t offset = 2 + static_cast<int64_t>(seg->Identifier().size()) + 1;
  if (typed->HasPaddedIdentifier()) {
    while (offset < static_cast<int64_t>(bytes.size()) && bytes[offset] == 0) ++offset;
  }
  if (!mem.SeekTo(offset)) return seg;
  if (typed->Read(&mem, raw->Length(), offset) != kExifOk) return seg;
  node->segment = std::move(typed);
  return node->segment.get();
}

std::vector<ExifAppSegment*> AppSegmentList::Segments() const {
  std::vector<ExifAppSegment*> out;
  for (const Node& n : nodes_) out.push_back(n.segment.get());
  return out;
}

void AppSegmentList::Remove(uint16_t marker, const std::string& identifier) {
  nodes_.remove_if([&](const Node& n) { return n.segment->Marker() == marker && n.segment->Identifier() == identifier; });
}

void AppSegmentList::TakeAll(AppSegmentList* other) {
  for (Node& n : other->nodes_) Insert(std::move(n.segment));
  other->nodes_.clear();
}
