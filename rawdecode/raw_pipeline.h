// The pipeline stages that follow a loader: zero and dead samples, the dark
// frame, white balance and scaling (with wavelet denoising and chromatic
// aberration), pre-interpolation, and the colour-matrix operations; then
// demosaicing and the highlight stages.
#pragma once

#include "rawdecode/raw_context.h"

void fill_zero_samples(raw_decode_context* ctx);
// path null: search "/.badpixels" from the current folder upwards.
void repair_dead_pixels(raw_decode_context* ctx, const char* path);
void subtract(raw_decode_context* ctx, const char* path);
void scale_colors(raw_decode_context* ctx);
void wavelet_denoise(raw_decode_context* ctx);  // called by scale_colors
void hat_transform_line(float* out, const float* in, int stride, int size, int s);
void pre_interpolate(raw_decode_context* ctx);

// out = (inᵀ·in)⁻¹·inᵀ, transposed to n x 3. False, with `out` untouched,
// when inᵀ·in is singular.
bool pseudo_inverse(const double (*in)[3], double (*out)[3], int n);
// Camera matrix from an XYZ-to-camera matrix of colour_count rows; keeps the
// camera colours (and returns false) when a row sums to 0 or the matrix is
// singular.
bool camera_matrix_from_xyz(raw_decode_context* ctx, const double (*xyz_to_camera)[3]);

// Demosaicing and highlights, on image_height x image_width pixels.
void fill_border_colours(raw_decode_context* ctx, int border);
void bilinear_demosaic(raw_decode_context* ctx);
void vng_interpolate(raw_decode_context* ctx);
void ppg_demosaic(raw_decode_context* ctx);
void ahd_interpolate(raw_decode_context* ctx);
void median_filter_passes(raw_decode_context* ctx);
void blend_clipped_highlights(raw_decode_context* ctx);
void recover_highlights(raw_decode_context* ctx);

// The sRGB-to-XYZ (D65) matrix the colour operations share.
extern const double raw_xyz_from_srgb[3][3];
