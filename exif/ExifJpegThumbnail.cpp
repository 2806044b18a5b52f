// JPEG thumbnails inside an EXIF segment: decoded into a ThumbnailImage
// and encoded from one through a JPEG image object over memory.
#include <cstring>

#include "exif/ExifJpegImage.h"

namespace {
// The most samples a decoded thumbnail may have, and the most bytes an
// encoded one may take (it must fit in one segment with its directory).
constexpr uint64_t kMaxThumbnailSamples = 65520;
constexpr int64_t kMaxThumbnailBytes = 65534;
}  // namespace

std::unique_ptr<ThumbnailImage> DecodeJpegThumbnail(const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return nullptr;
  std::vector<uint8_t> data = bytes;  // the stream wants a mutable buffer
  ExifJpegImage jpeg;
  if (jpeg.OpenMemory(data.data(), static_cast<int64_t>(data.size()), static_cast<int64_t>(data.size()), "r") !=
      kExifOk) {
    return nullptr;
  }
  const uint16_t outComponents = jpeg.components == 1 ? 1 : 3;
  const uint64_t samples = static_cast<uint64_t>(jpeg.width) * static_cast<uint64_t>(jpeg.height) * outComponents;
  if (samples == 0 || samples > kMaxThumbnailSamples) return nullptr;
  auto image = std::make_unique<ThumbnailImage>();
  if (image->Allocate(jpeg.width, jpeg.height, outComponents) != kExifOk) return nullptr;
  int32_t rows = 0;
  bool done = false;
  if (jpeg.ReadImage(*image, jpeg.height, &rows, &done) != kExifOk || !done) return nullptr;
  return image;
}

std::vector<uint8_t> EncodeJpegThumbnail(const ThumbnailImage& image, int quality) {
  std::vector<uint8_t> out;
  if (image.width <= 0 || image.height <= 0 || (image.components != 1 && image.components != 3)) return out;
  if (image.pixels.size() < static_cast<size_t>(image.width) * image.height * image.components) return out;
  std::vector<uint8_t> buffer(kMaxThumbnailBytes);
  ExifJpegImage jpeg;
  if (jpeg.OpenMemory(buffer.data(), kMaxThumbnailBytes, 0, "w") != kExifOk) return out;
  jpeg.SetImageInfo(image.width, image.height, image.components, 8,
                    image.components == 1 ? kJpegRowsGrey : kJpegRowsRgb, nullptr, nullptr);
  jpeg.SetQuality(static_cast<uint16_t>(quality < 0 ? 0 : quality));
  int32_t written = 0, total = 0;
  if (jpeg.WriteImage(image, image.height, &written, &total) != kExifOk || total != image.height) return out;
  const int64_t size = jpeg.Compressor()->BytesInMemory();
  if (size > 0) out.assign(buffer.begin(), buffer.begin() + size);
  return out;
}
