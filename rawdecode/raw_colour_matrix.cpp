// Colour-matrix operations shared by identification and the output stage.
#include <cmath>

#include "rawdecode/raw_pipeline.h"

const double raw_xyz_from_srgb[3][3] = {
    {0.412453, 0.357580, 0.180423},
    {0.212671, 0.715160, 0.072169},
    {0.019334, 0.119193, 0.950227},
};

bool pseudo_inverse(const double (*in)[3], double (*out)[3], int size) {
  double work[3][6];
  double largest = 0;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 6; ++j) work[i][j] = j == i + 3;
    for (int j = 0; j < 3; ++j) {
      for (int k = 0; k < size; ++k) work[i][j] += in[k][i] * in[k][j];
      largest = std::max(largest, std::fabs(work[i][j]));
    }
  }
  // inᵀ·in is symmetric and positive semi-definite, so elimination without
  // pivoting meets a (near) zero pivot exactly when it is singular.
  const double tiny = largest * 1e-12;
  for (int i = 0; i < 3; ++i) {
    double num = work[i][i];
    if (!(std::fabs(num) > tiny) || !std::isfinite(num)) return false;
    for (int j = 0; j < 6; ++j) work[i][j] /= num;
    for (int k = 0; k < 3; ++k) {
      if (k == i) continue;
      num = work[k][i];
      for (int j = 0; j < 6; ++j) work[k][j] -= work[i][j] * num;
    }
  }
  for (int i = 0; i < size; ++i)
    for (int j = 0; j < 3; ++j) {
      out[i][j] = 0;
      for (int k = 0; k < 3; ++k) out[i][j] += work[j][k + 3] * in[i][k];
    }
  return true;
}

bool camera_matrix_from_xyz(raw_decode_context* ctx, const double (*cam_xyz)[3]) {
  const int colours = ctx->colour_count < 1 ? 1 : ctx->colour_count > 4 ? 4 : ctx->colour_count;
  double cam_rgb[4][3], inverse[4][3], pre[4];
  for (int i = 0; i < colours; ++i)
    for (int j = 0; j < 3; ++j) {
      cam_rgb[i][j] = 0;
      for (int k = 0; k < 3; ++k) cam_rgb[i][j] += cam_xyz[i][k] * raw_xyz_from_srgb[k][j];
    }
  for (int i = 0; i < colours; ++i) {
    double num = cam_rgb[i][0] + cam_rgb[i][1] + cam_rgb[i][2];
    if (!(std::fabs(num) > 1e-12) || !std::isfinite(num)) return false;  // keep camera colours
    for (int j = 0; j < 3; ++j) cam_rgb[i][j] /= num;
    pre[i] = 1 / num;
  }
  if (!pseudo_inverse(cam_rgb, inverse, colours)) return false;
  for (int i = 0; i < colours; ++i) ctx->pre_multipliers[i] = float(pre[i]);
  ctx->raw_colour_flag = 0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < colours; ++j) ctx->rgb_from_camera[i][j] = float(inverse[j][i]);
  return true;
}
