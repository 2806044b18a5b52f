#include "imagelib/metafile_player/MetafileRender.h"

#include <cairo.h>
#include <emf2svg.h>
#include <libwmf/api.h>
#include <libwmf/gd.h>
#include <librsvg/rsvg.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace metafile {

namespace {

struct WmfApi {
  wmfAPI* api = nullptr;
  bool open = false;
  ~WmfApi() {
    if (!api) return;
    if (open) wmf_mem_close(api);
    wmf_api_destroy(api);
  }
};

}  // namespace

bool RenderWmf(const uint8_t* data, size_t size, const Frame& frame, uint32_t width, uint32_t height,
               const PixelWriter& write) {
  if (!data || size == 0 || width == 0 || height == 0 || size > 0x7FFFFFFF) return false;
  // libwmf reads from memory it may not change, but takes a plain pointer.
  std::vector<uint8_t> copy(data, data + size);
  WmfApi w;
  wmfAPI_Options options;
  std::memset(&options, 0, sizeof options);
  options.function = wmf_gd_function;
  const unsigned long flags = WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
  if (wmf_api_create(&w.api, flags, &options) != wmf_E_None || !w.api) return false;
  if (wmf_mem_open(w.api, copy.data(), static_cast<long>(copy.size())) != wmf_E_None) return false;
  w.open = true;
  wmfD_Rect scanned;
  if (wmf_scan(w.api, 0, &scanned) != wmf_E_None) return false;

  // The gd device hands its true-colour picture over as it is; its pixels
  // are read in place. (libwmf gives no way to free that picture: it lives
  // until the player process ends, one metafile later.)
  wmf_gd_t* device = WMF_GD_GetData(w.api);
  device->type = wmf_gd_image;
  device->width = width;
  device->height = height;
  wmfD_Rect box;
  box.TL.x = frame.left;
  box.TL.y = frame.top;
  box.BR.x = frame.right;
  box.BR.y = frame.bottom;
  device->bbox = box;
  if (wmf_play(w.api, 0, &box) != wmf_E_None || !device->gd_image) return false;
  // Contiguous rows of 32-bit pixels: gd keeps 7 bits of alpha above the
  // colour (0, opaque), which the reader of the pixels ignores.
  const int* drawn = wmf_gd_image_pixels(device->gd_image);
  return drawn && write(reinterpret_cast<const uint32_t*>(drawn), size_t{width} * height);
}

namespace {

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct CairoDeleter {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};
struct HandleDeleter {
  void operator()(RsvgHandle* h) const { g_object_unref(h); }
};

}  // namespace

bool RenderEmf(const uint8_t* data, size_t size, uint32_t width, uint32_t height, const PixelWriter& write) {
  if (!data || size == 0 || width == 0 || height == 0 || width > 32767 || height > 32767) return false;
  std::vector<char> copy(data, data + size);

  generatorOptions options;
  std::memset(&options, 0, sizeof options);
  options.nameSpace = nullptr;  // plain element names
  options.verbose = false;
  options.emfplus = true;
  options.svgDelimiter = true;
  options.imgWidth = width;
  options.imgHeight = height;
  char* svg = nullptr;
  size_t svgLength = 0;
  const int converted = emf2svg(copy.data(), copy.size(), &svg, &svgLength, &options);
  std::unique_ptr<char, decltype(&std::free)> svgOwner(svg, &std::free);
  if (!converted || !svg || svgLength == 0) return false;

  GError* error = nullptr;
  std::unique_ptr<RsvgHandle, HandleDeleter> handle(
      rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(svg), svgLength, &error));
  if (error) g_error_free(error);
  if (!handle) return false;
  std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface(
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(width), static_cast<int>(height)));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return false;
  std::unique_ptr<cairo_t, CairoDeleter> cr(cairo_create(surface.get()));
  cairo_set_source_rgb(cr.get(), 1.0, 1.0, 1.0);
  cairo_paint(cr.get());
  // libemf2svg spreads right - left of the header's bounds over the width,
  // but the bounds are inclusive: the picture is one unit wider (and
  // taller) than that, so its drawing is shrunk to leave the last unit its
  // own column and row.
  if (size >= 24) {
    const auto Load32 = [data](size_t at) {
      return static_cast<int32_t>(uint32_t{data[at]} | uint32_t{data[at + 1]} << 8 | uint32_t{data[at + 2]} << 16 |
                                  uint32_t{data[at + 3]} << 24);
    };
    const double spanX = static_cast<double>(Load32(16)) - Load32(8);
    const double spanY = static_cast<double>(Load32(20)) - Load32(12);
    cairo_scale(cr.get(), spanX > 0 ? spanX / (spanX + 1) : 1.0, spanY > 0 ? spanY / (spanY + 1) : 1.0);
  }
  const RsvgRectangle viewport{0.0, 0.0, static_cast<double>(width), static_cast<double>(height)};
  error = nullptr;
  const bool drawn = rsvg_handle_render_document(handle.get(), cr.get(), &viewport, &error);
  if (error) g_error_free(error);
  if (!drawn) return false;
  cairo_surface_flush(surface.get());
  // Rows of 32-bit pixels whose top byte is unused; handed over in place
  // unless cairo pads its rows.
  const unsigned char* rows = cairo_image_surface_get_data(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  if (!rows) return false;
  if (size_t(stride) == size_t{width} * 4) return write(reinterpret_cast<const uint32_t*>(rows), size_t{width} * height);
  std::vector<uint32_t> packed;
  try {
    packed.resize(size_t{width} * height);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (uint32_t y = 0; y < height; ++y)
    std::memcpy(&packed[size_t{y} * width], rows + size_t(stride) * y, size_t{width} * 4);
  return write(packed.data(), packed.size());
}

}  // namespace metafile
