// The tables camera identification uses: raw files known by their exact size,
// the maker names makes are shortened to, the camera colour table (levels and
// XYZ-to-camera matrices by model prefix) and the built-in camera matrices.
#pragma once

#include <cstdint>

#include "rawdecode/raw_context.h"

struct raw_size_row {
  int32_t file_size;
  char maker[12];
  char model[19];
  uint8_t side_jpeg;  // a JPEG of the same shot lies beside the raw file
};
constexpr int raw_size_row_count = 68;
extern const raw_size_row camera_size_table[raw_size_row_count];

constexpr int raw_maker_name_count = 15;
extern const char* const maker_names[raw_maker_name_count];

// One camera: the text the maker, a blank and the model begin with; black
// and white levels (0 leaves the value as it is); the XYZ-to-camera matrix
// x 10000, four rows of three (all zero: no matrix, camera colours stay).
struct raw_colour_row {
  const char* prefix;
  uint16_t black, white;
  int16_t xyz_to_camera[12];
};
constexpr int raw_colour_row_count = 211;
extern const raw_colour_row camera_colour_table[raw_colour_row_count];

extern const float builtin_camera_matrices[4][12];

// Looks the camera up in camera_colour_table (first matching prefix wins)
// and applies its levels and, when it has one, its matrix. Returns the row
// used, or -1.
int apply_camera_matrix_table(raw_decode_context* ctx, const char* make, const char* model);
// Installs built-in camera-to-RGB matrix `index` (0..3).
void apply_builtin_matrix(raw_decode_context* ctx, int index);
