// Digest of a picture's EXIF block, filled by the JPEG reader (APP1) and the
// PNG reader (eXIf chunk); a TIFF header read fills the shooting date-time
// of the page's EXIF directory. The picture tools read the orientation, the
// shooting date-time and the present flag.
#pragma once

#include <cstdint>

struct ExifSummary {
  char version[5];       // 4 characters of the EXIF version tag and a NUL
  char cameraMake[32];
  char cameraModel[40];
  char dateTime[20];     // "YYYY:MM:DD HH:MM:SS" and a NUL
  int32_t height;        // from the start-of-frame marker
  int32_t width;
  int32_t orientation;   // 1..8; 0 when absent or out of range
  int32_t isColor;       // 1 when the frame declares 3 components
  int32_t process;       // start-of-frame marker code (192..207)
  int32_t flashUsed;
  float focalLength;
  float exposureTime;    // seconds
  float apertureFNumber;
  float distance;        // subject distance
  float ccdWidth;
  float exposureBias;
  int32_t lightSource;
  int32_t meteringMode;
  int32_t exposureProgram;
  int32_t isoEquivalent;
  int32_t compressionLevel;
  float focalPlaneXRes;
  float focalPlaneYRes;
  float focalPlaneUnits;  // the unit's length in inches
  float xResolution;
  float yResolution;
  float resolutionUnit;   // the unit's length in inches
  float brightness;
  char comments[256];
  const uint8_t* thumbnailPointer;  // into the EXIF data held by the section reader
  int32_t thumbnailSize;
  bool present;  // true when an EXIF section was read successfully
};
