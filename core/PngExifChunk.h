// The EXIF block of a PNG file's eXIf chunk, carried from a picture to the
// PNG the tools make from it (resized, or converted PNG to PNG): its
// orientation, times and artist go along, its pixel-size tags made true of
// the new picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class PngExifRead {
  kNone,        // the file has no eXIf chunk
  kFound,       // the block was read
  kUnreadable,  // the file could not be read, or its chunk is too long to hold
};

// Reads the data of the PNG file's first eXIf chunk into `block` (cleared
// first).
PngExifRead ReadPngExifChunk(const std::wstring& path, std::vector<uint8_t>& block);

// Sets the pixel-size tags the block holds (ImageWidth and ImageLength of
// the main directory, PixelXDimension and PixelYDimension of the EXIF
// directory) to width x height; a SHORT too small for the value becomes a
// LONG. Nothing else changes. False when the block is no TIFF structure.
bool SetExifPixelSize(std::vector<uint8_t>& block, uint32_t width, uint32_t height);

// Makes the block the PNG file's eXIf chunk, in front of its first IDAT
// chunk (an eXIf chunk of its own goes), and replaces the file atomically.
// False, and the file as it was, when it is no PNG or cannot be rewritten.
bool WritePngExifChunk(const std::wstring& path, const std::vector<uint8_t>& block);
