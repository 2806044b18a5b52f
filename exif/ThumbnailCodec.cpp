#include "exif/ThumbnailCodec.h"

#include <csetjmp>
#include <cstring>

extern "C" {
#include <jpeglib.h>
#include <jerror.h>
}

#include "exif/TagDirectory.h"

namespace {

// libjpeg reports fatal errors by calling error_exit; we jump back to the
// entry of the job. Warnings count as errors: a thumbnail that needs one
// is not worth keeping.
struct ErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
};

void OnError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  longjmp(err->jump, 1);
}

void OnMessage(j_common_ptr cinfo, int level) {
  if (level < 0 && cinfo->err->msg_code != JWRN_JFIF_MAJOR) OnError(cinfo);
}

// Small functions whose locals need no destructors, as setjmp requires.
bool DecodeInto(const uint8_t* data, size_t size, ThumbnailImage* out) {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnError;
  err.pub.emit_message = OnMessage;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, const_cast<unsigned char*>(data), static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = cinfo.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_calc_output_dimensions(&cinfo);
  const uint64_t samples = static_cast<uint64_t>(cinfo.output_width) * cinfo.output_height *
                           static_cast<uint64_t>(cinfo.out_color_components);
  if (samples == 0 || samples > 65520 || out->Allocate(static_cast<int32_t>(cinfo.output_width),
                                                       static_cast<int32_t>(cinfo.output_height),
                                                       static_cast<uint16_t>(cinfo.out_color_components)) != kExifOk) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_start_decompress(&cinfo);
  const size_t stride = static_cast<size_t>(out->width) * out->components;
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out->pixels.data() + cinfo.output_scanline * stride;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

bool EncodeInto(const ThumbnailImage& img, int quality, unsigned char** buffer, unsigned long* size) {
  jpeg_compress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnError;
  err.pub.emit_message = OnMessage;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, buffer, size);
  cinfo.image_width = static_cast<JDIMENSION>(img.width);
  cinfo.image_height = static_cast<JDIMENSION>(img.height);
  cinfo.input_components = img.components;
  cinfo.in_color_space = img.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  cinfo.write_JFIF_header = FALSE;  // a thumbnail inside EXIF carries no JFIF segment
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  const size_t stride = static_cast<size_t>(img.width) * img.components;
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(img.pixels.data() + cinfo.next_scanline * stride);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

bool HeaderOf(FILE* file, const uint8_t* data, size_t size, int32_t* w, int32_t* h) {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnError;
  err.pub.emit_message = OnMessage;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  if (file != nullptr) jpeg_stdio_src(&cinfo, file);
  else jpeg_mem_src(&cinfo, const_cast<unsigned char*>(data), static_cast<unsigned long>(size));
  const int rc = jpeg_read_header(&cinfo, TRUE);
  *w = static_cast<int32_t>(cinfo.image_width);
  *h = static_cast<int32_t>(cinfo.image_height);
  jpeg_destroy_decompress(&cinfo);
  return rc == JPEG_HEADER_OK;
}

}  // namespace

std::unique_ptr<ThumbnailImage> DecodeJpegThumbnail(const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return nullptr;
  auto img = std::make_unique<ThumbnailImage>();
  if (!DecodeInto(bytes.data(), bytes.size(), img.get())) return nullptr;
  return img;
}

std::vector<uint8_t> EncodeJpegThumbnail(const ThumbnailImage& image, int quality) {
  std::vector<uint8_t> out;
  if (image.width <= 0 || image.height <= 0 || (image.components != 1 && image.components != 3)) return out;
  if (image.pixels.size() < static_cast<size_t>(image.width) * image.height * image.components) return out;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  const bool ok = EncodeInto(image, quality, &buffer, &size);
  if (ok && size > 0 && size <= 65534) out.assign(buffer, buffer + size);
  free(buffer);
  return out;
}

ExifResult ReadJpegFrameSize(FILE* file, int32_t* width, int32_t* height) {
  if (file == nullptr || fseeko(file, 0, SEEK_SET) != 0) return kExifWriteFailed;
  return HeaderOf(file, nullptr, 0, width, height) ? kExifOk : kExifWriteFailed;
}

ExifResult ReadJpegFrameSize(const uint8_t* data, int64_t size, int32_t* width, int32_t* height) {
  if (data == nullptr || size <= 0) return kExifWriteFailed;
  return HeaderOf(nullptr, data, static_cast<size_t>(size), width, height) ? kExifOk : kExifWriteFailed;
}
