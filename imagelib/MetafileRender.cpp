#include "imagelib/MetafileRender.h"

#include <cairo.h>
#include <emf2svg.h>
#include <libwmf/api.h>
#include <libwmf/gd.h>
#include <librsvg/rsvg.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "imagelib/PxImagePNG.h"

namespace metafile {

namespace {

// The one lock of the metafile libraries (see the header).
std::mutex& PlaybackLock() {
  static std::mutex lock;
  return lock;
}

bool Allocate(std::vector<uint32_t>* pixels, uint32_t width, uint32_t height) {
  try {
    pixels->assign(size_t{width} * height, 0xFFFFFF);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// A C stream that writes into memory (libwmf writes its PNG to a FILE).
struct MemoryStream {
  FILE* stream = nullptr;
  char* data = nullptr;
  size_t size = 0;
  bool Open() {
    stream = open_memstream(&data, &size);
    return stream != nullptr;
  }
  bool Close() {
    if (!stream) return false;
    const bool ok = std::fclose(stream) == 0;
    stream = nullptr;
    return ok;
  }
  ~MemoryStream() {
    if (stream) std::fclose(stream);
    std::free(data);
  }
};

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
               std::vector<uint32_t>* pixels) {
  if (!data || size == 0 || width == 0 || height == 0 || size > 0x7FFFFFFF) return false;
  if (!Allocate(pixels, width, height)) return false;
  // libwmf reads from memory it may not change, but takes a plain pointer.
  std::vector<uint8_t> copy(data, data + size);
  std::lock_guard<std::mutex> hold(PlaybackLock());
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

  // The gd device writes its picture as PNG into a memory stream and frees
  // its own image (a gd image handed out could not be freed from here).
  wmf_gd_t* device = WMF_GD_GetData(w.api);
  if (!(device->flags & WMF_GD_SUPPORTS_PNG)) return false;
  MemoryStream png;
  if (!png.Open()) return false;
  device->type = wmf_gd_png;
  device->file = png.stream;
  device->flags |= WMF_GD_OUTPUT_FILE;
  device->width = width;
  device->height = height;
  wmfD_Rect box;
  box.TL.x = frame.left;
  box.TL.y = frame.top;
  box.BR.x = frame.right;
  box.BR.y = frame.bottom;
  device->bbox = box;
  const bool played = wmf_play(w.api, 0, &box) == wmf_E_None;
  // The device is done with the stream once the play has ended.
  device->file = nullptr;
  device->flags &= ~static_cast<unsigned long>(WMF_GD_OUTPUT_FILE);
  if (!played || !png.Close() || png.size == 0) return false;

  PxImagePNG picture;
  if (png.size > 0x7FFFFFFF) return false;
  PxMemFile file(reinterpret_cast<uint8_t*>(png.data), static_cast<int32_t>(png.size));
  if (!picture.Decode(&file) || picture.Width() != width || picture.Height() != height) return false;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      const RGBQUAD c = picture.PixelColorAt(static_cast<int32_t>(x), static_cast<int32_t>(height - 1 - y), false);
      (*pixels)[size_t{y} * width + x] = uint32_t{c.rgbRed} << 16 | uint32_t{c.rgbGreen} << 8 | c.rgbBlue;
    }
  return true;
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

bool RenderEmf(const uint8_t* data, size_t size, uint32_t width, uint32_t height, std::vector<uint32_t>* pixels) {
  if (!data || size == 0 || width == 0 || height == 0 || width > 32767 || height > 32767) return false;
  if (!Allocate(pixels, width, height)) return false;
  std::vector<char> copy(data, data + size);
  std::lock_guard<std::mutex> hold(PlaybackLock());

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
  const RsvgRectangle viewport{0.0, 0.0, static_cast<double>(width), static_cast<double>(height)};
  error = nullptr;
  const bool drawn = rsvg_handle_render_document(handle.get(), cr.get(), &viewport, &error);
  if (error) g_error_free(error);
  if (!drawn) return false;
  cairo_surface_flush(surface.get());
  const unsigned char* rows = cairo_image_surface_get_data(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  for (uint32_t y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(rows + size_t(stride) * y);
    for (uint32_t x = 0; x < width; ++x) (*pixels)[size_t{y} * width + x] = row[x] & 0xFFFFFF;
  }
  return true;
}

}  // namespace metafile
