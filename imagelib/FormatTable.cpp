// One row per format class: how to make its object, read and write with it.
#include "imagelib/FormatTable.h"

#include <new>

#include "imagelib/PxImageBMP.h"
#include "imagelib/PxImageGIF.h"
#include "imagelib/PxImageICO.h"
#include "imagelib/PxImageJAS.h"
#include "imagelib/PxImagePCX.h"
#include "imagelib/PxImageTGA.h"
#include "imagelib/PxImageWBMP.h"
#include "imagelib/PxImageSKA.h"
#include "imagelib/PxImageJPG.h"
#include "imagelib/PxImageMNG.h"
#include "imagelib/PxImagePNG.h"
#include "imagelib/PxImageTIF.h"
#include "imagelib/PxImageWMF.h"
#include "imagelib/PxImagePSD.h"
#include "imagelib/PxImageRAW.h"

namespace {

template <class T>
PxImage* Create() {
  return new (std::nothrow) T();
}

template <class T>
bool DecodeWith(PxImage& object, PxFile* file) {
  return static_cast<T&>(object).Decode(file);
}

template <class T>
bool EncodeWith(PxImage& object, PxFile* file, ImageFormatId) {
  return static_cast<T&>(object).Encode(file);
}

// The JPEG-2000 family writer is told which of its formats to write.
template <class T>
bool EncodeWithId(PxImage& object, PxFile* file, ImageFormatId id) {
  return static_cast<T&>(object).Encode(file, id);
}

template <class T>
constexpr FormatCodec Codec(bool reportsFrameCount = false) {
  return FormatCodec{&Create<T>, &DecodeWith<T>, &EncodeWith<T>, nullptr, reportsFrameCount};
}

template <class T>
constexpr FormatCodec ReadOnlyCodec(const char* noWriterText) {
  return FormatCodec{&Create<T>, &DecodeWith<T>, nullptr, noWriterText, false};
}

// ---- the table: one row per class ----------------------------------------
const FormatCodec kBmp = Codec<PxImageBMP>();
const FormatCodec kGif = Codec<PxImageGIF>(true);
const FormatCodec kJpg = Codec<PxImageJPG>();
const FormatCodec kPng = Codec<PxImagePNG>();
const FormatCodec kIco = Codec<PxImageICO>(true);
const FormatCodec kTif = Codec<PxImageTIF>(true);
const FormatCodec kTga = Codec<PxImageTGA>();
const FormatCodec kPcx = Codec<PxImagePCX>();
const FormatCodec kWbmp = Codec<PxImageWBMP>();
const FormatCodec kWmf = ReadOnlyCodec<PxImageWMF>("Save WMF not supported");
const FormatCodec kJas =
    FormatCodec{&Create<PxImageJAS>, &DecodeWith<PxImageJAS>, &EncodeWithId<PxImageJAS>, nullptr, false};
const FormatCodec kMng = Codec<PxImageMNG>(true);
const FormatCodec kSka = Codec<PxImageSKA>();
const FormatCodec kRaw = ReadOnlyCodec<PxImageRAW>("Save RAW not supported");
const FormatCodec kPsd = ReadOnlyCodec<PxImagePSD>("Save PSD not supported");
// ---------------------------------------------------------------------------

const FormatCodec* const kById[] = {
    nullptr, &kBmp, &kGif, &kJpg, &kPng, &kIco, &kTif, &kTga, &kPcx, &kWbmp, &kWmf,
    &kJas,   &kJas, &kJas, &kJas, &kJas, nullptr, &kMng, &kSka, &kRaw, &kPsd,
};

// WBMP is not among them: it carries no signature, and almost any few bytes
// (a damaged file of another format among them) read as a small WBMP, a
// success that would silently replace the picture. A WBMP is read when it
// is named as one.
const FormatCodec* const kTryOrder[] = {
    &kBmp, &kJpg, &kIco, &kGif, &kPng, &kTif, &kMng, &kTga, &kPcx, &kWmf, &kJas, &kSka, &kRaw, &kPsd,
};

}  // namespace

const FormatCodec* CodecForId(ImageFormatId id) {
  if (id >= sizeof kById / sizeof kById[0]) return nullptr;
  return kById[id];
}

const FormatCodec* const* CodecsInTryOrder(size_t* count) {
  *count = sizeof kTryOrder / sizeof kTryOrder[0];
  return kTryOrder;
}
