// The one road between a PxImage and the format classes: a read runs a
// format object on a copy of this image's record and moves its result in; a
// write lets a format object borrow this image.
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "imagelib/FormatSignature.h"
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

constexpr const char* kUnknownFormatText = "Decode: Unknown or wrong format";
// The TIFF reader's answer for camera sensor data (a DNG, a camera TIFF): it
// hands the file on, so the RAW format's failure is the one that explains.
constexpr const char* kHandedToRawText = "Camera raw data: read by the RAW format";

// Whether a file whose first bytes carry the signature of `recognised` may
// be given to `codec`. Such a file belongs to its own reader: when that
// reader finds it damaged, another format's reader must not turn it into a
// picture (a cut PNG read by the MNG reader, a damaged PSD by the TGA
// reader). The one exception is camera raw data, which lives in TIFF
// containers and is read by the RAW format.
bool MayRead(const FormatCodec* codec, const FormatCodec* recognised) {
  if (!recognised || codec == recognised) return true;
  return recognised == CodecForId(kFormatTif) && codec == CodecForId(kFormatRaw);
}

// The format whose signature the file carries from its current position,
// read without moving that position.
ImageFormatId SignatureAt(PxFile* file) {
  const int32_t start = file->Position();
  uint8_t head[kSignatureBytes] = {};
  const size_t got = file->ReadBlock(head, 1, sizeof head);
  file->SeekTo(start, 0);
  return FormatBySignature(head, got);
}

}  // namespace

bool PxImage::Decode(PxFile* file, ImageFormatId id) {
  if (!file) return false;
  const int32_t start = file->Position();

  const FormatCodec* single[1] = {nullptr};
  const FormatCodec* const* codecs = single;
  size_t count = 0;
  // Trying every format: the one whose signature the file carries is the
  // one whose failure explains why the file could not be read.
  const FormatCodec* recognised = nullptr;
  char recognisedError[kLastErrorSize] = "";
  if (id == kFormatUnknown) {
    codecs = CodecsInTryOrder(&count);
    recognised = CodecForId(SignatureAt(file));
  } else if ((single[0] = CodecForId(id)) != nullptr) {
    count = 1;
  }

  const FormatCodec* const signatureOwner = recognised;
  for (size_t i = 0; i < count; ++i) {
    const FormatCodec& codec = *codecs[i];
    if (!MayRead(&codec, signatureOwner)) continue;
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
    // Frame placement, delay and disposal describe the picture read last.
    object->info.frameOffsetX = 0;
    object->info.frameOffsetY = 0;
    object->info.frameDelay = 0;
    object->info.disposal = 0;
    std::memset(&object->info.exif, 0, sizeof object->info.exif);
    // The record's buffer pointers describe this image, not the new object.
    object->info.owner = nullptr;
    object->info.pixels = nullptr;
    object->callerEscape = &info.escape;
    // An earlier format's complaint is no part of this attempt: a reader that
    // succeeds leaves the text empty or says what it found (damage, a size).
    object->info.lastError[0] = 0;
    if (codec.decode(*object, file)) {
      return AdoptFrom(*object, true);
    }
    if (codec.reportsFrameCount) info.frameCount = object->info.frameCount;
    SetLastError(object->LastError());
    if (&codec == recognised) {
      std::memcpy(recognisedError, info.lastError, sizeof recognisedError);
      if (std::strcmp(info.lastError, kHandedToRawText) == 0) recognised = CodecForId(kFormatRaw);
    }
    file->SeekTo(start, 0);
    if (id != kFormatUnknown) return false;
  }
  SetLastError(recognisedError[0] ? recognisedError : kUnknownFormatText);
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
    // The named format recognised its own signature and found the file
    // damaged: that is the answer. No other format's reader may make a
    // picture of it (camera raw data in a TIFF container excepted, which the
    // TIFF reader hands on).
    PxIOFile file(stream.get());
    if (file.SeekTo(0, 0) && CodecForId(SignatureAt(&file)) == CodecForId(id) &&
        std::strcmp(info.lastError, kHandedToRawText) != 0) {
      return false;
    }
  }
  char kept[kLastErrorSize];
  std::memcpy(kept, info.lastError, sizeof kept);
  UniqueFile stream = OpenForReading(path);
  if (!stream) return false;
  bool ok = DecodeFileHandle(stream.get(), kFormatUnknown);
  // Tell the caller why the expected format failed, not that nothing matched;
  // a format that recognised the file has said why it failed already.
  if (!ok && id != kFormatUnknown && std::strcmp(info.lastError, kUnknownFormatText) == 0) {
    std::memcpy(info.lastError, kept, sizeof kept);
  }
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
