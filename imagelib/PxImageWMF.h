// Windows metafiles (format id 10): placeable 16-bit metafiles and enhanced
// metafiles, read only. The headers are checked here; the drawing records
// are played in the metafile player (MetafilePlayback.h) into a white
// picture of the metafile's size (at most 4000 pixels a side).
#pragma once

#include <cstdint>
#include <vector>

#include "imagelib/PxImage.h"

class PxImageWMF : public PxImage {
 public:
  PxImageWMF() { InitDefaults(kFormatWmf); }

  bool Decode(PxFile* file);
};

// The 22-byte header of a placeable metafile and the bytes of the whole
// file (that header included), as ReadPlaceableWmf finds them.
struct PlaceableWmf {
  int16_t left = 0, top = 0, right = 0, bottom = 0;
  uint16_t inch = 0;
  std::vector<uint8_t> bytes;
  // The records state their window and viewport (WmfWindow.h): the
  // playback device counts in units of the frame, not in points.
  bool explicitWindow = false;
};

// An enhanced metafile: its bounds in device units (inclusive) and its bytes.
struct EnhancedMetafile {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  std::vector<uint8_t> bytes;
};

// Each reads from the file's position and returns false for anything that
// is not a well-formed header of its kind (the file position is then
// undefined).
bool ReadPlaceableWmf(PxFile* file, PlaceableWmf* out);
bool ReadEnhancedMetafile(PxFile* file, EnhancedMetafile* out);

// Screen resolution the sizes of placeable metafiles are computed for.
constexpr int64_t kMetafileDpi = 96;
// Longest side of a played metafile.
constexpr int64_t kMetafileMaxSide = 4000;
