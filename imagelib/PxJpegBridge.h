// The glue between libjpeg and the image library: a source and destination
// manager on a PxFile, and an error manager that turns every libjpeg error
// into a failed result with libjpeg's message in the image's last-error text.
//
// libjpeg reports errors by calling error_exit, which must not return; it
// jumps back with longjmp. The jump targets live only in the small Trap*
// functions below, whose locals have no destructors, so no C++ object is
// ever skipped by a jump. Callers check their bool result and clean up.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

class PxFile;
class PxImage;

constexpr size_t kJpegTransferBytes = 4096;

struct JpegErrorTrap {
  jpeg_error_mgr manager;  // first, so libjpeg's err pointer is the trap
  jmp_buf jump;
  char* errorText;         // the image's last-error text, 256 characters
  bool damaged;            // libjpeg warned of cut-off or corrupt data and padded it
};

struct PxFileJpegBridge {
  jpeg_destination_mgr destination;
  jpeg_source_mgr source;
  PxFile* file = nullptr;
  uint8_t* buffer = nullptr;  // kJpegTransferBytes, owned by the codec call
  bool startOfFile = false;
};

// Installs the standard message table with RaiseJpegError as error exit
// and a warning hook that marks the trap damaged.
void InitJpegErrorTrap(JpegErrorTrap* trap, char* errorText);
void InitJpegBridge(PxFileJpegBridge* bridge, PxFile* file, uint8_t* buffer);

// ---- decompression steps; false after a libjpeg error (text already set)
bool TrapCreateDecompress(j_decompress_ptr cinfo, JpegErrorTrap* trap, PxFileJpegBridge* bridge);
bool TrapReadHeader(j_decompress_ptr cinfo, JpegErrorTrap* trap);
bool TrapCalcOutputDimensions(j_decompress_ptr cinfo, JpegErrorTrap* trap);
bool TrapStartDecompress(j_decompress_ptr cinfo, JpegErrorTrap* trap);
// Reads every scanline into the image, top row first. 1 done, 0 libjpeg
// error, -1 stopped by the image's escape value.
int TrapReadRows(j_decompress_ptr cinfo, JpegErrorTrap* trap, PxImage* image, bool cmyk,
                 bool swapRedBlue);
bool TrapFinishDecompress(j_decompress_ptr cinfo, JpegErrorTrap* trap);

// ---- compression steps
struct JpegEncodeSettings {
  uint32_t width, height;
  bool grey;               // one-component input
  uint32_t options;        // the JPEG codec-options word
  int32_t smoothing;
  int quality;             // already clamped to 1..100
  int32_t xDpi, yDpi;
};
bool TrapCreateCompress(j_compress_ptr cinfo, JpegErrorTrap* trap, PxFileJpegBridge* bridge,
                        const JpegEncodeSettings& settings);
bool TrapWriteRows(j_compress_ptr cinfo, JpegErrorTrap* trap, PxImage* image, bool swapRedBlue);
bool TrapFinishCompress(j_compress_ptr cinfo, JpegErrorTrap* trap);
