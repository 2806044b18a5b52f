// One row per format class. A format whose class has not been built yet is a
// PendingFormat row: it fails every read and write with a text naming its
// class. Building a format replaces its row with Codec<TheClass>.
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
constexpr FormatCodec Codec(const char* className, bool reportsFrameCount = false) {
  return FormatCodec{className, &Create<T>, &DecodeWith<T>, &EncodeWith<T>, nullptr, reportsFrameCount};
}

template <class T>
constexpr FormatCodec ReadOnlyCodec(const char* className, const char* noWriterText) {
  return FormatCodec{className, &Create<T>, &DecodeWith<T>, nullptr, noWriterText, false};
}

// Stand-in object for a format class that is not part of this build yet.
template <ImageFormatId kId>
class PendingFormat : public PxImage {
 public:
  PendingFormat() { InitDefaults(kId); }
};

template <ImageFormatId kId>
const char* PendingText();
#define PW_PENDING_TEXT(id, text) \
  template <>                     \
  const char* PendingText<id>() { return text; }
#undef PW_PENDING_TEXT

template <ImageFormatId kId>
bool PendingDecode(PxImage& object, PxFile*) {
  object.SetLastError(PendingText<kId>());
  return false;
}

template <ImageFormatId kId>
bool PendingEncode(PxImage& object, PxFile*, ImageFormatId) {
  object.SetLastError(PendingText<kId>());
  return false;
}

template <ImageFormatId kId>
constexpr FormatCodec Pending(const char* className, bool reportsFrameCount = false) {
  return FormatCodec{className, &Create<PendingFormat<kId>>, &PendingDecode<kId>, &PendingEncode<kId>,
                     nullptr, reportsFrameCount};
}

template <ImageFormatId kId>
constexpr FormatCodec PendingReadOnly(const char* className, const char* noWriterText) {
  return FormatCodec{className, &Create<PendingFormat<kId>>, &PendingDecode<kId>, nullptr, noWriterText,
                     false};
}

// ---- the table: one row per class ----------------------------------------
const FormatCodec kBmp = Codec<PxImageBMP>("PxImageBMP");
const FormatCodec kGif = Codec<PxImageGIF>("PxImageGIF", true);
const FormatCodec kJpg = Codec<PxImageJPG>("PxImageJPG");
const FormatCodec kPng = Codec<PxImagePNG>("PxImagePNG");
const FormatCodec kIco = Codec<PxImageICO>("PxImageICO", true);
const FormatCodec kTif = Codec<PxImageTIF>("PxImageTIF", true);
const FormatCodec kTga = Codec<PxImageTGA>("PxImageTGA");
const FormatCodec kPcx = Codec<PxImagePCX>("PxImagePCX");
const FormatCodec kWbmp = Codec<PxImageWBMP>("PxImageWBMP");
const FormatCodec kWmf = ReadOnlyCodec<PxImageWMF>("PxImageWMF", "Save WMF not supported");
const FormatCodec kJas = FormatCodec{"PxImageJAS", &Create<PxImageJAS>, &DecodeWith<PxImageJAS>,
                                     &EncodeWithId<PxImageJAS>, nullptr, false};
const FormatCodec kMng = Codec<PxImageMNG>("PxImageMNG", true);
const FormatCodec kSka = Codec<PxImageSKA>("PxImageSKA");
const FormatCodec kRaw = ReadOnlyCodec<PxImageRAW>("PxImageRAW", "Save RAW not supported");
const FormatCodec kPsd = ReadOnlyCodec<PxImagePSD>("PxImagePSD", "Save PSD not supported");
// ---------------------------------------------------------------------------

const FormatCodec* const kById[] = {
    nullptr, &kBmp, &kGif, &kJpg, &kPng, &kIco, &kTif, &kTga, &kPcx, &kWbmp, &kWmf,
    &kJas,   &kJas, &kJas, &kJas, &kJas, nullptr, &kMng, &kSka, &kRaw, &kPsd,
};

const FormatCodec* const kTryOrder[] = {
    &kBmp, &kJpg, &kIco, &kGif, &kPng, &kTif, &kMng, &kTga, &kPcx, &kWbmp, &kWmf, &kJas, &kSka, &kRaw, &kPsd,
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
