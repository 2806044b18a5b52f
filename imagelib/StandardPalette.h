// Standard palettes by depth, entries as red, green, blue.
#pragma once

#include <cstdint>

extern const uint8_t kStandardPalette1[2][3];
extern const uint8_t kStandardPalette4[16][3];
extern const uint8_t kStandardPalette8[256][3];
