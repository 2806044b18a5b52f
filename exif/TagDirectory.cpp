// The directory model: entries, sub-directories, the thumbnail layout
// cache and the tag lists that carry a picture's tags between files.
#include "exif/TagDirectory.h"

#include <algorithm>
#include <new>

bool IsSubDirectoryTag(uint32_t tag) {
  for (uint32_t t : SubDirectoryTags) {
    if (t >= tag) return t == tag;
  }
  return false;
}

ExifResult ThumbnailImage::Allocate(int32_t w, int32_t h, uint16_t c) {
  if (w < 0 || h < 0 || c == 0 || c > 4) return kExifNoSegment;
  try {
    pixels.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * c, 0);
  } catch (const std::bad_alloc&) {
    return kExifNoSegment;
  }
  components = c;
  width = w;
  height = h;
  for (uint16_t i = 0; i < 4; ++i) {
    comp[i] = Component{};
    if (i < c) {
      comp[i].sampleStride = c;
      comp[i].rowStride = static_cast<int64_t>(c) * w;
      // An empty picture has no buffer to point into.
      comp[i].first = pixels.empty() ? nullptr : pixels.data() + i;
    }
  }
  return kExifOk;
}

// ---- structure cache --------------------------------------------------------

namespace {
struct SlotInfo {
  uint32_t tag;
  enum Kind { kU32, kU16, kU16Vec, kU16Any, kU32Any } kind;
};
constexpr SlotInfo kSlots[StructureTagCache::kSlotCount] = {
    {256, SlotInfo::kU32},    {257, SlotInfo::kU32},    {262, SlotInfo::kU16},
    {284, SlotInfo::kU16},    {277, SlotInfo::kU16},    {278, SlotInfo::kU32},
    {259, SlotInfo::kU16},    {513, SlotInfo::kU32},    {514, SlotInfo::kU32},
    // Bits per sample and subsampling are vectors in colour thumbnails; a
    // grey thumbnail has one value, which is kept too.
    {530, SlotInfo::kU16Any}, {258, SlotInfo::kU16Any}, {273, SlotInfo::kU32Any},
    {279, SlotInfo::kU32Any},
};
}  // namespace

int StructureTagCache::SlotOf(uint32_t tag) {
  for (int i = 0; i < kSlotCount; ++i) {
    if (kSlots[i].tag == tag) return i;
  }
  return -1;
}

void StructureTagCache::Refresh(uint32_t tag, ExifTagEntry* entry) {
  const int s = SlotOf(tag);
  if (s < 0) return;
  ExifTagEntry* keep = nullptr;
  if (entry != nullptr) {
    switch (kSlots[s].kind) {
      case SlotInfo::kU32: keep = dynamic_cast<ExifEntryU32*>(entry) ? entry : nullptr; break;
      case SlotInfo::kU16: keep = dynamic_cast<ExifEntryU16*>(entry) ? entry : nullptr; break;
      case SlotInfo::kU16Vec: keep = dynamic_cast<ExifEntryU16Vec*>(entry) ? entry : nullptr; break;
      case SlotInfo::kU16Any:
        keep = (dynamic_cast<ExifEntryU16Vec*>(entry) || dynamic_cast<ExifEntryU16*>(entry)) ? entry : nullptr;
        break;
      case SlotInfo::kU32Any:
        keep = (dynamic_cast<ExifEntryU32Vec*>(entry) || dynamic_cast<ExifEntryU32*>(entry)) ? entry : nullptr;
        break;
    }
  }
  slot[s] = keep;
}

uint32_t StructureTagCache::First(Slot s, uint32_t fallback) const {
  if (slot[s] == nullptr) return fallback;
  const std::vector<int64_t> v = slot[s]->Integers();
  return v.empty() ? fallback : static_cast<uint32_t>(v[0]);
}

// ---- directory --------------------------------------------------------------

TagDirectory::TagDirectory(uint32_t ownTag, uint16_t index, int64_t position, int64_t base,
                           DirectoryReadState* readState, TagDirectory* parent)
    : position_(position), base_(base), ownTag_(ownTag), index_(index), readState_(readState),
      parent_(parent) {}

TagDirectory::~TagDirectory() { Clear(); }

int TagDirectory::Depth() const {
  int d = 0;
  for (const TagDirectory* p = parent_; p != nullptr; p = p->parent_) ++d;
  return d;
}

ExifTagEntry* TagDirectory::GetEntry(uint32_t tag) const {
  auto it = entries_.find(tag);
  return it == entries_.end() ? nullptr : it->second.get();
}

void TagDirectory::SetEntry(std::unique_ptr<ExifTagEntry> entry) {
  if (!entry) return;
  const uint32_t tag = entry->Tag();
  RemoveEntry(tag);
  ExifTagEntry* e = entry.get();
  entries_[tag] = std::move(entry);
  if (IsSubDirectoryTag(tag)) {
    std::vector<uint32_t> offsets;
    if (auto* one = dynamic_cast<ExifEntryU32*>(e)) offsets.push_back(one->Value());
    else if (auto* many = dynamic_cast<ExifEntryU32Vec*>(e)) offsets = many->Value();
    // Sub-directories of a read are bounded in depth and number so that a
    // hostile segment cannot nest or fan out without end.
    const bool reading = readState_ != nullptr;
    if (reading && Depth() + 1 > DirectoryReadLimits::kMaxDepth) offsets.clear();
    for (size_t i = 0; i < offsets.size() && i <= 0xFFFF; ++i) {
      if (reading && readState_->directories >= DirectoryReadLimits::kMaxDirectories) break;
      auto dir = std::make_unique<TagDirectory>(tag, static_cast<uint16_t>(i), base_ + offsets[i], base_,
                                                readState_, this);
      AddSubDirectory(std::move(dir));
    }
  }
  cache_.Refresh(tag, e);
}

bool TagDirectory::RemoveEntry(uint32_t tag) {
  auto it = entries_.find(tag);
  if (it == entries_.end()) return false;
  cache_.Refresh(tag, nullptr);
  auto sub = subdirs_.find(tag);
  if (sub != subdirs_.end()) subdirs_.erase(sub);  // each directory clears itself
  entries_.erase(it);
  return true;
}

bool TagDirectory::GetSubDirectories(uint32_t tag, std::vector<TagDirectory*>* out) const {
  out->clear();
  auto it = subdirs_.find(tag);
  if (it == subdirs_.end()) return false;
  for (const auto& d : it->second) out->push_back(d.get());
  return true;
}

ExifResult TagDirectory::AddSubDirectory(std::unique_ptr<TagDirectory> dir) {
  if (readState_ != nullptr) {
    if (readState_->offsets.count(dir->position_)) return kExifNotDone;
    readState_->offsets[dir->position_] = dir.get();
    ++readState_->directories;
  }
  subdirs_[dir->ownTag_].push_back(std::move(dir));
  return kExifOk;
}

ExifResult TagDirectory::AddSubDirectoryUnderTag(uint32_t tag) {
  if (!IsSubDirectoryTag(tag)) return kExifNotSubDirTag;
  std::vector<uint32_t> values;
  if (ExifTagEntry* old = GetEntry(tag)) {
    for (int64_t v : old->Integers()) values.push_back(static_cast<uint32_t>(v));
  }
  values.push_back(0);
  // Straight into the map: putting it through SetEntry would rebuild the
  // sub-directories from the placeholder values.
  std::unique_ptr<ExifTagEntry> e;
  if (values.size() == 1) e = std::make_unique<ExifEntryU32>(tag, kTiffLong, 1, 0u);
  else e = std::make_unique<ExifEntryU32Vec>(tag, kTiffLong, static_cast<uint32_t>(values.size()), std::move(values));
  cache_.Refresh(tag, e.get());
  entries_[tag] = std::move(e);
  auto& list = subdirs_[tag];
  list.push_back(std::make_unique<TagDirectory>(tag, static_cast<uint16_t>(list.size()), 0, base_, nullptr, this));
  return kExifOk;
}

void TagDirectory::CollectTags(DirectoryTagList* list, const TagDirectoryPath& path) {
  DirectoryTags tags;
  tags.path = path;
  for (auto& [tag, e] : entries_) tags.entries.push_back(e.get());
  list->push_back(std::move(tags));
  for (auto& [tag, dirs] : subdirs_) {
    for (auto& d : dirs) {
      TagDirectoryPath sub = path;
      sub.push_back({tag, d->index_});
      d->CollectTags(list, sub);
    }
  }
}

void TagDirectory::Clear() {
  subdirs_.clear();
  entries_.clear();
  cache_ = StructureTagCache{};
  thumbnailImage_.reset();
  thumbnailBytes_.clear();
}

void TagDirectory::DropThumbnail() {
  thumbnailImage_.reset();
  thumbnailBytes_.clear();
}

uint64_t TagDirectory::RowBytes() const {
  const uint64_t width = cache_.First(StructureTagCache::kWidth, 0);
  const uint64_t bits = cache_.First(StructureTagCache::kBitsPerSample, 8);
  const uint64_t planar = cache_.First(StructureTagCache::kPlanar, 1);
  const uint64_t samples = planar == 1 ? cache_.First(StructureTagCache::kSamples, 1) : 1;
  return (width * bits * samples + 7) / 8;
}

uint32_t TagDirectory::StripsPerImage() const {
  const uint64_t length = cache_.First(StructureTagCache::kLength, 0);
  uint64_t rows = cache_.First(StructureTagCache::kRowsPerStrip, 0);
  // RowsPerStrip 0 or missing means one strip holding the whole image.
  if (rows == 0 || rows == 0xFFFFFFFFu) rows = length;
  uint64_t strips = rows == 0 ? 0 : (length + rows - 1) / rows;
  if (cache_.First(StructureTagCache::kPlanar, 1) == 2) {
    strips *= cache_.Has(StructureTagCache::kSamples) ? cache_.First(StructureTagCache::kSamples, 0) : 0;
  }
  return static_cast<uint32_t>(std::min<uint64_t>(strips, 0xFFFFFFFFu));
}

void TagDirectory::SetLongs(uint32_t tag, const std::vector<uint32_t>& values) {
  std::unique_ptr<ExifTagEntry> e;
  if (values.size() == 1) {
    e = std::make_unique<ExifEntryU32>(tag, kTiffLong, 1, values[0]);
  } else {
    std::vector<uint32_t> copy = values;
    e = std::make_unique<ExifEntryU32Vec>(tag, kTiffLong, static_cast<uint32_t>(copy.size()), std::move(copy));
  }
  SetEntry(std::move(e));
}

void TagDirectory::EndRead() {
  readState_ = nullptr;
  for (auto& [tag, dirs] : subdirs_) {
    for (auto& d : dirs) d->EndRead();
  }
}
