// PxImage: the in-memory picture of the image library. One bitmap of 1, 4, 8
// or 24 bits per pixel kept as a device-independent bitmap block (40-byte
// info header, palette, bottom-up pixel rows padded to 4 bytes), with an
// optional alpha plane and selection plane (one byte per pixel, rows of
// exactly the width), an optional frame list and the information record.
//
// Every format class derives from PxImage; a format object lives for one load
// or one save. Operations that can fail return false (Create returns null)
// and leave a text in the last-error field. No exception leaves the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "imagelib/ImageFormatId.h"
#include "imagelib/ImageInfoBlock.h"
#include "imagelib/PxFile.h"
#include "imagelib/WinRecords.h"

// Largest pixel block Create accepts, in bytes, and the same limit in single
// precision as the size estimates are judged.
constexpr uint64_t kPxImageMaxBytes = 268435456;
constexpr float kPxImageMaxMemory = static_cast<float>(kPxImageMaxBytes);

class PxImage {
 public:
  PxImage();
  PxImage(uint32_t width, uint32_t height, uint32_t bpp, ImageFormatId formatId);
  PxImage(const PxImage& source, bool copyPixels = true);
  PxImage& operator=(const PxImage&) = delete;
  virtual ~PxImage();

  // ---- container core
  void InitDefaults(ImageFormatId formatId);
  uint8_t* Create(uint32_t width, uint32_t height, uint32_t bpp, ImageFormatId formatId);
  // Whether Create would accept this size under the memory limit.
  static bool FitsMemoryLimit(uint32_t width, uint32_t height, uint32_t bpp);
  bool ReleaseBuffers();
  bool ReleaseFrames();
  void CopyFrom(const PxImage& source, bool copyPixels = true, bool copySelection = true,
                bool copyAlpha = true);
  bool AdoptFrom(PxImage& source, bool takeFrames = false);
  void BorrowFrom(PxImage& source);
  void SetHorizontalDpi(int32_t dpi);
  void SetVerticalDpi(int32_t dpi);
  // A density the file states per metre (or per centimetre, times 100):
  // the dpi is rounded from it, and the pixels per metre are kept as
  // stated, so a PNG or BMP made from the picture stores the same number
  // (11800, not the 11811 of the rounded 300 dpi).
  void SetHorizontalPelsPerMeter(double perMetre);
  void SetVerticalPelsPerMeter(double perMetre);
  RGBQUAD TransparentColor() const;
  void UnpackBitfields(const uint8_t* source, uint32_t redMask, uint32_t greenMask,
                       uint32_t blueMask, uint8_t sourceBpp);
  void HeaderToHostOrder(BITMAPINFOHEADER* header) const;
  static ImageFormatId FormatIdFromExtension(std::wstring_view extension) {
    return ::FormatIdFromExtension(extension);
  }
  static uint32_t FormatIndexFromId(ImageFormatId id) { return ::FormatIndexFromId(id); }

  // ---- load and encode dispatch
  bool Decode(PxFile* file, ImageFormatId id);
  bool LoadFile(const std::wstring& path, ImageFormatId id);
  bool DecodeFileHandle(FILE* stream, ImageFormatId id);
  bool Encode(PxFile* file, ImageFormatId id);

  // ---- pixels
  uint8_t PixelIndexAt(int32_t x, int32_t y) const;
  uint8_t PixelIndexAtUnchecked(int32_t x, int32_t y) const;
  RGBQUAD PixelColorAt(int32_t x, int32_t y, bool withAlpha = true) const;
  RGBQUAD PixelColorAtUnchecked(int32_t x, int32_t y) const;
  void StorePixelIndex(int32_t x, int32_t y, uint8_t index);
  void StorePixelIndexUnchecked(int32_t x, int32_t y, uint8_t index);
  void StorePixelColor(int32_t x, int32_t y, RGBQUAD color);
  bool IsPixelTransparent(int32_t x, int32_t y) const;
  void SwapRedBlue(uint8_t* row, int64_t length) const;
  void SwapRedBlueAll();

  // ---- palette
  RGBQUAD* PaletteData() const;
  void StorePaletteEntry(uint8_t index, uint8_t red, uint8_t green, uint8_t blue);
  void StorePaletteQuad(uint8_t index, uint8_t blue, uint8_t green, uint8_t red, uint8_t reserved);
  void LoadPaletteFromArrays(uint32_t count, const uint8_t* red, const uint8_t* green,
                             const uint8_t* blue);
  void LoadPaletteFromTriples(const uint8_t* triples, uint32_t count);
  void LoadPalette(const RGBQUAD* palette, uint32_t count);
  void MakeGrayPalette();
  bool HasGrayPalette() const;
  bool PaletteHasAlpha() const;
  void MakeStandardPalette();
  void SetImportantColors(uint32_t count);
  uint8_t NearestPaletteIndex(RGBQUAD color);
  void SwapPaletteIndices(uint8_t a, uint8_t b);

  // ---- alpha and selection planes
  bool CreateAlphaPlane();
  void DeleteAlphaPlane();
  bool CopyAlphaFrom(const PxImage& source);
  bool AlphaFromGrayImage(const PxImage& source);
  bool AlphaToGrayImage(PxImage* target) const;
  bool FlipAlphaVertical();
  bool FlipAlphaHorizontal();
  bool DeleteSelection();
  bool CopySelectionFrom(const PxImage& source);
  void PasteImage(const PxImage& source, int32_t x, int32_t y);

  // ---- transforms
  bool RaiseBitDepth(uint32_t targetBpp);
  bool DecreaseBpp(uint32_t targetBpp, bool errorDiffusion);
  bool ConvertToGray();
  bool FlipVertical();
  bool FlipHorizontal();
  bool TurnLeft();
  bool TurnRight();
  bool Turn180();
  bool InvertColors();
  bool Rescale(uint32_t newWidth, uint32_t newHeight, int mode);

  // ---- convenience views of the record
  bool HasPixels() const { return dib != nullptr; }
  // The last decode padded missing or unreadable data (lastError says what).
  bool IsDamaged() const { return info.bDamaged; }
  bool IsBorrowed() const { return info.owner != nullptr; }
  uint32_t Width() const { return static_cast<uint32_t>(header.biWidth); }
  uint32_t Height() const { return static_cast<uint32_t>(header.biHeight); }
  uint32_t Bpp() const { return header.biBitCount; }
  uint32_t PaletteSize() const;
  uint32_t RowStride() const { return info.rowStride; }
  size_t ImageBytes() const { return size_t{info.rowStride} * Height(); }
  uint8_t* PixelRows() const { return dib ? info.pixels : nullptr; }
  uint8_t* RowAt(uint32_t y) const { return info.pixels + size_t{y} * info.rowStride; }
  const char* LastError() const { return info.lastError; }
  // Copies a non-empty text (at most 255 characters); an empty one keeps the old text.
  void SetLastError(const char* text);
  // Sets the text and returns false, so a reader can end with `return Fail("...")`.
  bool Fail(const char* text) {
    SetLastError(text);
    return false;
  }
  // Every writer's first check: a file to write to and pixels to write;
  // otherwise false with the text that says which is missing.
  bool CanEncodeTo(const PxFile* file);

  // The fields are public: the format classes, the transforms and the GIF
  // frame list all work on other images' records directly.
  uint8_t* dib;                // owned DIB block (malloc), null while empty
  BITMAPINFOHEADER header;     // the working info header
  ImageInfoBlock info;
  uint8_t* selection;          // owned selection plane (malloc), or null
  uint8_t* alpha;              // owned alpha plane (malloc), 255 opaque, or null
  PxImage** frames;            // owned array (new[]) of owned frames, or null
  int32_t frameListSize;       // entries of the frame list
  // While a read runs on a format object: the escape field of the image the
  // read was asked of, which another thread may set (through std::atomic_ref)
  // to stop a read that waits on something outside this process. Null
  // outside the dispatch.
  int32_t* callerEscape = nullptr;
  // Whether a stop has been asked for: this image's escape field (set
  // before the read), or the caller's while the read runs.
  bool StopRequested() const;

 private:
  bool InBounds(int32_t x, int32_t y) const {
    return x >= 0 && y >= 0 && static_cast<uint32_t>(x) < Width() && static_cast<uint32_t>(y) < Height();
  }
  void ResetNearestCache() { info.lastColorValid = false; }
  bool TurnQuarter(bool left);
  bool RescaleInto(PxImage& target, float sx, float sy, int mode);
  void UpdateProgress(int32_t percent) { info.progress = percent; }
};
