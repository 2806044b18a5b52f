// The one road between a PxImage and the format classes: a read runs a
// format object on a copy of this image's record and moves its result in; a
// write lets a format object borrow this image.
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "imagelib/FormatTable.h"
#include "imagelib/PxImage.h"
#include "platform/text.h"

namespace {

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

UniqueFile OpenForReading(const std::wstring& path) {
  // An empty conversion means a name that cannot exist here, never "".
  std::string narrow;
  try {
    narrow = pw::WideToNarrow(path);
  } catch (const std::bad_alloc&) {
    return UniqueFile();
  }
  if (narrow.empty()) return UniqueFile();
  return UniqueFile(std::fopen(narrow.c_str(), "rb"));
}

}  // namespace

bool PxImage::Decode(PxFile* file, ImageFormatId id) {
  if (!file) return false;
  const int32_t start = file->Position();

  const FormatCodec* single[1] = {nullptr};
  const FormatCodec* const* codecs = single;
  size_t count = 0;
  if (id == kFormatUnknown) {
    codecs = CodecsInTryOrder(&count);
  } else if ((single[0] = CodecForId(id)) != nullptr) {
    count = 1;
  }

  for (size_t i = 0; i < count; ++i) {
    const FormatCodec& codec = *codecs[i];
    std::unique_ptr<PxImage> object(codec.create());
    if (!object) return false;
    // Resolution, transparency and the EXIF summary are what a reader finds
    // in the file, not what it is given: a reader that finds none (or, like
    // a JPEG aspect ratio, only scales the default) must start from the
    // defaults, never from the picture this image held before. An inherited
    // transparent index or alpha palette would make an opaque picture
    // see-through; an inherited orientation would have the tools turn it.
    const int32_t xDpi = object->info.xDpi, yDpi = object->info.yDpi;
    std::memcpy(&object->info, &info, sizeof info);
    object->info.xDpi = xDpi;
    object->info.yDpi = yDpi;
    object->info.backgroundIndex = -1;
    object->info.backgroundColor = RGBQUAD{0, 0, 0, 0};
    object->info.alphaPalette = false;
    object->info.bDamaged = false;
    std::memset(&object->info.exif, 0, sizeof object->info.exif);
    // The record's buffer pointers describe this image, not the new object.
    object->info.owner = nullptr;
    object->info.pixels = nullptr;
    if (codec.decode(*object, file)) {
      return AdoptFrom(*object, true);
    }
    if (codec.reportsFrameCount) info.frameCount = object->info.frameCount;
    SetLastError(object->LastError());
    file->SeekTo(start, 0);
    if (id != kFormatUnknown) return false;
  }
  SetLastError("Decode: Unknown or wrong format");
  return false;
}

bool PxImage::DecodeFileHandle(FILE* stream, ImageFormatId id) {
  PxIOFile file(stream);  // borrowed: never closed here
  return Decode(&file, id);
}

bool PxImage::LoadFile(const std::wstring& path, ImageFormatId id) {
  if (FormatIndexFromId(id) != 0) {
    UniqueFile stream = OpenForReading(path);
    if (!stream) return false;
    if (DecodeFileHandle(stream.get(), id)) return true;
  }
  char kept[kLastErrorSize];
  std::memcpy(kept, info.lastError, sizeof kept);
  UniqueFile stream = OpenForReading(path);
  if (!stream) return false;
  bool ok = DecodeFileHandle(stream.get(), kFormatUnknown);
  // Tell the caller why the expected format failed, not that nothing matched.
  if (!ok && id != kFormatUnknown) std::memcpy(info.lastError, kept, sizeof kept);
  return ok;
}

bool PxImage::Encode(PxFile* file, ImageFormatId id) {
  const FormatCodec* codec = CodecForId(id);
  if (!codec) {
    SetLastError("Encode: Unknown format");
    return false;
  }
  std::unique_ptr<PxImage> object(codec->create());
  if (!object) return false;
  object->BorrowFrom(*this);
  if (!codec->encode) {
    if (file) object->SetLastError(codec->noWriterText);
    SetLastError(object->LastError());
    return false;
  }
  if (codec->encode(*object, file, id)) return true;
  SetLastError(object->LastError());
  return false;
}
