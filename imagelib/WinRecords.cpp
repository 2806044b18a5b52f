#include "imagelib/WinRecords.h"

#include "platform/byteorder.h"

void LoadInfoHeader(const uint8_t* b, BITMAPINFOHEADER* h) {
  h->biSize = pw::LoadLE32(b + 0);
  h->biWidth = static_cast<int32_t>(pw::LoadLE32(b + 4));
  h->biHeight = static_cast<int32_t>(pw::LoadLE32(b + 8));
  h->biPlanes = pw::LoadLE16(b + 12);
  h->biBitCount = pw::LoadLE16(b + 14);
  h->biCompression = pw::LoadLE32(b + 16);
  h->biSizeImage = pw::LoadLE32(b + 20);
  h->biXPelsPerMeter = static_cast<int32_t>(pw::LoadLE32(b + 24));
  h->biYPelsPerMeter = static_cast<int32_t>(pw::LoadLE32(b + 28));
  h->biClrUsed = pw::LoadLE32(b + 32);
  h->biClrImportant = pw::LoadLE32(b + 36);
}

void StoreInfoHeader(const BITMAPINFOHEADER& h, uint8_t* b) {
  pw::StoreLE32(b + 0, h.biSize);
  pw::StoreLE32(b + 4, static_cast<uint32_t>(h.biWidth));
  pw::StoreLE32(b + 8, static_cast<uint32_t>(h.biHeight));
  pw::StoreLE16(b + 12, h.biPlanes);
  pw::StoreLE16(b + 14, h.biBitCount);
  pw::StoreLE32(b + 16, h.biCompression);
  pw::StoreLE32(b + 20, h.biSizeImage);
  pw::StoreLE32(b + 24, static_cast<uint32_t>(h.biXPelsPerMeter));
  pw::StoreLE32(b + 28, static_cast<uint32_t>(h.biYPelsPerMeter));
  pw::StoreLE32(b + 32, h.biClrUsed);
  pw::StoreLE32(b + 36, h.biClrImportant);
}

void LoadFileHeader(const uint8_t* b, BITMAPFILEHEADER* h) {
  h->bfType = pw::LoadLE16(b + 0);
  h->bfSize = pw::LoadLE32(b + 2);
  h->bfReserved1 = pw::LoadLE16(b + 6);
  h->bfReserved2 = pw::LoadLE16(b + 8);
  h->bfOffBits = pw::LoadLE32(b + 10);
}

void StoreFileHeader(const BITMAPFILEHEADER& h, uint8_t* b) {
  pw::StoreLE16(b + 0, h.bfType);
  pw::StoreLE32(b + 2, h.bfSize);
  pw::StoreLE16(b + 6, h.bfReserved1);
  pw::StoreLE16(b + 8, h.bfReserved2);
  pw::StoreLE32(b + 10, h.bfOffBits);
}
