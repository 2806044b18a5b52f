// Zero samples and listed dead pixels.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "rawdecode/raw_failure.h"
#include "rawdecode/raw_pipeline.h"
#include "rawdecode/raw_stream.h"

void fill_zero_samples(raw_decode_context* ctx) {
  if (!raw_pixels_cover_image(ctx)) return;
  const int height = ctx->image_height, width = ctx->image_width;
  // Positions in the first two rows and columns are left as they are.
  for (int row = 2; row < height; ++row) {
    for (int col = 2; col < width; ++col) {
      if (cfa_sample(ctx, row, col) != 0) continue;
      int colour = cfa_fc(ctx, row, col);
      unsigned total = 0, n = 0;
      for (int r = row - 2; r <= row + 2; ++r) {
        for (int c = col - 2; c <= col + 2; ++c) {
          if (r < height && c < width && cfa_fc(ctx, r, c) == colour) {
            unsigned v = cfa_sample(ctx, r, c);
            if (v) {
              total += v;
              ++n;
            }
          }
        }
      }
      if (n) cfa_sample(ctx, row, col) = uint16_t(total / n);
    }
  }
}

namespace {

struct FileCloser {
  void operator()(FILE* f) const { fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// The list named "/.badpixels" in the current folder or the nearest folder
// above it that has one.
FilePtr open_bad_pixel_list_upwards() {
  std::string dir;
  for (size_t len = 32;; len *= 2) {
    std::string buf(len, '\0');
    if (getcwd(buf.data(), len - 16)) {
      dir = buf.c_str();
      break;
    }
    if (errno != ERANGE || len > (size_t(1) << 20)) return nullptr;
  }
  if (dir.size() >= 2 && dir[1] == ':') dir.erase(0, 2);
  for (char& ch : dir)
    if (ch == '\\') ch = '/';
  const bool absolute = !dir.empty() && dir[0] == '/';
  if (!dir.empty() && dir.back() == '/') dir.pop_back();
  size_t cut = dir.size();
  while (absolute) {
    std::string name = dir.substr(0, cut) + "/.badpixels";
    if (FILE* f = fopen(name.c_str(), "r")) return FilePtr(f);
    if (cut == 0) break;
    cut = dir.rfind('/', cut - 1);
    if (cut == std::string::npos) break;
  }
  return nullptr;
}

}  // namespace

void repair_dead_pixels(raw_decode_context* ctx, const char* path) {
  if (!ctx->cfa_pattern || !raw_pixels_cover_image(ctx)) return;
  FilePtr fp = path ? FilePtr(fopen(path, "r")) : open_bad_pixel_list_upwards();
  if (!fp) return;
  const int height = ctx->image_height, width = ctx->image_width;
  auto sample = [&](int r, int c) -> uint16_t& {
    return ctx->pixels[size_t(r >> ctx->shrink_factor) * ctx->buffer_width +
                       (c >> ctx->shrink_factor)][cfa_colour_at(ctx, r, c)];
  };
  char line[128];
  bool fixed = false;
  while (fgets(line, sizeof line, fp.get())) {
    if (char* hash = strchr(line, '#')) *hash = 0;
    int col, row, time;
    if (sscanf(line, "%d %d %d", &col, &row, &time) != 3) continue;
    if (unsigned(col) >= unsigned(width) || unsigned(row) >= unsigned(height)) continue;
    if (time > ctx->shot_time) continue;
    int colour = cfa_colour_at(ctx, row, col);
    unsigned total = 0, n = 0;
    for (int rad = 1; rad < 3 && n == 0; ++rad) {
      for (int r = row - rad; r <= row + rad; ++r) {
        for (int c = col - rad; c <= col + rad; ++c) {
          if (unsigned(r) < unsigned(height) && unsigned(c) < unsigned(width) &&
              (r != row || c != col) && cfa_colour_at(ctx, r, c) == colour) {
            total += sample(r, c);
            ++n;
          }
        }
      }
    }
    if (n == 0) continue;  // no neighbour of its colour: the pixel stays as it is
    sample(row, col) = uint16_t(total / n);
    if (!fixed) raw_verbose(ctx, "Fixed dead pixels at:");
    fixed = true;
    raw_verbose(ctx, " %d,%d", col, row);
  }
  if (fixed) raw_verbose(ctx, "\n");
}

void subtract(raw_decode_context* ctx, const char* path) {
  FilePtr fp(fopen(path, "rb"));
  if (!fp) {
    raw_message(ctx, "%s: %s\n", path, strerror(errno));
    return;
  }
  FILE* f = fp.get();
  unsigned dim[3] = {0, 0, 0};
  int nd = 0, c;
  bool comment = false, number = false, error = false;
  if (fgetc(f) != 'P' || fgetc(f) != '5') error = true;
  while (!error && nd < 3 && (c = fgetc(f)) != EOF) {
    if (c == '#') comment = true;
    if (c == '\n') comment = false;
    if (comment) continue;
    if (isdigit(c)) number = true;
    if (number) {
      if (isdigit(c)) {
        // Saturates: a huge number can only be a wrong dimension.
        dim[nd] = dim[nd] > 100000000u ? dim[nd] : dim[nd] * 10 + unsigned(c - '0');
      } else if (isspace(c)) {
        number = false;
        ++nd;
      } else {
        error = true;
      }
    }
  }
  if (error || nd < 3) {
    raw_message(ctx, "%s is not a valid PGM file!\n", path);
    return;
  }
  if (dim[0] != ctx->image_width || dim[1] != ctx->image_height || dim[2] != 65535) {
    raw_message(ctx, "%s has the wrong dimensions!\n", path);
    return;
  }
  if (!raw_pixels_cover_image(ctx)) return;
  const unsigned width = ctx->image_width;
  auto row_buffer = raw_alloc<uint8_t>(ctx, uint64_t(width) * 2, "subtract()");
  for (unsigned row = 0; row < ctx->image_height; ++row) {
    size_t got = fread(row_buffer.get(), 2, width, f);
    memset(row_buffer.get() + got * 2, 0, (width - got) * 2);  // a short file subtracts nothing more
    for (unsigned col = 0; col < width; ++col) {
      unsigned dark = unsigned(row_buffer[2 * col]) << 8 | row_buffer[2 * col + 1];
      uint16_t& v = cfa_sample(ctx, row, col);
      v = dark < v ? uint16_t(v - dark) : 0;
    }
  }
  ctx->black_level = 0;
}
