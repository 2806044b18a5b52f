#include "raster/RasterFile.h"

#include <gdal_priv.h>
#include <tiffio.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "raster/GdalErrors.h"
#include "raster/StagedOutput.h"
#include "raster/StretchTable.h"
#include "platform/atomic_file.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/temp_file.h"

namespace pw {
namespace {

// The stretch histogram of the file wrapper looks at most this many pixels
// along either side.
constexpr int kStretchSubsampleLimit = 5000;

// libtiff reports through process-wide handlers. GDAL installs its own on
// the first use of its GeoTIFF driver (turning libtiff's complaints into
// GDAL errors, which is how a failed tile write becomes a failed
// conversion here), but the window toolkit's TIFF image handler installs one
// that turns them into message boxes, and whichever came last wins. GDAL's
// pair is taken once and put back before every opening and creation. An
// opening runs on its own thread, and a cancelled one may still be running
// when the next starts: both then store the same pair, so neither can leave
// the other with a message box. (libtiff's handler pointers are plain
// globals, so those two stores are not synchronised; the toolkit installs
// its own only at start.)
void ForwardTiffError(const char*, const char* format, va_list args) {
  CPLErrorV(CE_Failure, CPLE_AppDefined, format, args);
}

void ForwardTiffWarning(const char*, const char* format, va_list args) {
  CPLErrorV(CE_Warning, CPLE_AppDefined, format, args);
}

struct TiffHandlers {
  TIFFErrorHandler error = nullptr;
  TIFFErrorHandler warning = nullptr;
};

const TiffHandlers& GdalTiffHandlers() {
  static const TiffHandlers handlers = [] {
    // GDAL's pair is known by when it arrives, not by whose library it lies
    // in: our forwarding pair goes in first, so a pair found in its place
    // after the GeoTIFF driver's start came from GDAL. When the driver had
    // started before, or installs none, the forwarding pair stays; it does
    // the same work.
    TIFFSetErrorHandler(ForwardTiffError);
    TIFFSetWarningHandler(ForwardTiffWarning);
    if (GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff")) {
      GdalErrorScope quiet;
      const char* probe = "/vsimem/pixelwharf_tiff_init.tif";
      if (GDALDataset* ds = gtiff->Create(probe, 1, 1, 1, GDT_Byte, nullptr)) GDALClose(ds);
      VSIUnlink(probe);
    }
    TiffHandlers h;
    h.error = TIFFSetErrorHandler(nullptr);
    h.warning = TIFFSetWarningHandler(nullptr);
    if (!h.error) h.error = ForwardTiffError;
    if (!h.warning) h.warning = ForwardTiffWarning;
    return h;
  }();
  return handlers;
}

void RegisterGdal() {
  GDALAllRegister();
  TIFFSetErrorHandler(GdalTiffHandlers().error);
  TIFFSetWarningHandler(GdalTiffHandlers().warning);
  CPLSetConfigOption("GDAL_FILENAME_IS_UTF8", "YES");
  // GDAL's block cache defaults to 5 % of the machine's memory; the viewer
  // reads every block of a large image once to build its overview, which
  // would fill all of it. A quarter gigabyte holds every block a screen
  // needs. A cache size the user set is left alone.
  static std::once_flag once;
  std::call_once(once, [] {
    constexpr GIntBig kCache = GIntBig(256) << 20;
    if (!CPLGetConfigOption("GDAL_CACHEMAX", nullptr) && GDALGetCacheMax64() > kCache)
      GDALSetCacheMax64(kCache);
  });
}

// What a read's progress callback looks at.
struct ReadWatch {
  const std::atomic<bool>* cancel;
  const pw::ReadProgress* progress;
};

int WatchRead(double fraction, const char*, void* data) {
  const auto* watch = static_cast<const ReadWatch*>(data);
  if (!watch) return TRUE;
  if (watch->cancel && watch->cancel->load(std::memory_order_relaxed)) return FALSE;
  if (watch->progress && *watch->progress && !(*watch->progress)(fraction)) return FALSE;
  return TRUE;
}

bool ReadWholeFile(const std::string& path, uint8_t* out, int64_t size) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  const bool ok = std::fread(out, 1, size_t(size), f) == size_t(size);
  std::fclose(f);
  return ok;
}

// Whole or not at all: a short sidecar must never be read, and one that is
// replaced (another image's, a cut one) is replaced in one step.
bool WriteWholeFile(const std::string& path, const uint8_t* data, int64_t size) {
  return WriteFileAtomically(
      path, std::string_view(reinterpret_cast<const char*>(data), size_t(size)));
}

// True when `driver` turns an 8-bit image of `bands` bands into a file; tried
// on a one-pixel image in memory, so nothing touches the disk.
bool DriverTakesByteImage(GDALDriver* driver, const std::string& extension, int bands,
                          std::string& why) {
  GdalErrorScope quiet;
  GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
  if (!mem) return false;
  GDALDataset* probe = mem->Create("", 1, 1, bands, GDT_Byte, nullptr);
  if (!probe) return false;
  const std::string target = "/vsimem/pixelwharf_probe_" +
                             std::to_string(reinterpret_cast<uintptr_t>(probe)) + "." + extension;
  GDALDataset* out = driver->CreateCopy(target.c_str(), probe, FALSE, nullptr, nullptr, nullptr);
  const bool ok = out != nullptr && !quiet.Failed();
  if (out) GDALClose(out);
  GDALClose(probe);
  driver->Delete(target.c_str());
  VSIUnlink(target.c_str());
  if (!ok) why = quiet.Message();
  return ok;
}

// Bands 1..n in order.
std::vector<int> BandMap(int n) {
  std::vector<int> map(size_t(std::max(n, 0)));
  for (int b = 0; b < n; ++b) map[size_t(b)] = b + 1;
  return map;
}

std::string ExtensionOf(std::string_view path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return {};
  std::string ext(path.substr(dot + 1));
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

}  // namespace

const char* DriverNameFromExtension(std::string_view path) {
  const std::string ext = ExtensionOf(path);
  if (path.rfind('.') == std::string_view::npos) return nullptr;
  if (ext == "bmp") return "BMP";
  if (ext == "jpg" || ext == "jpeg") return "JPEG";
  if (ext == "png") return "PNG";
  if (ext == "tif") return "GTiff";
  if (ext == "gif") return "GIF";
  if (ext == "img") return "HFA";
  if (ext == "bt") return "BT";
  if (ext == "ecw") return "ECW";
  if (ext == "fits") return "FITS";
  if (ext == "hdf") return "HDF4";
  if (ext == "hdr") return "EHdr";
  return nullptr;
}

int BytesPerSample(int dataType) {
  static const int kBytes[] = {1, 2, 2, 4, 4, 4, 8};
  return dataType >= 1 && dataType <= 7 ? kBytes[dataType - 1] : 0;
}

std::string StretchTablePath(const std::string& path) { return path + ".czb"; }

RasterFile::RasterFile() = default;

RasterFile::~RasterFile() { Close(); }

void RasterFile::Close() {
  stretchTable_.clear();
  stretchTable_.shrink_to_fit();
  if (dataset_) {
    GdalErrorScope quiet;
    GDALClose(GDALDataset::ToHandle(dataset_));
    dataset_ = nullptr;
  }
  if (!workingPath_.empty()) {
    RemoveFile(workingPath_);
    workingPath_.clear();
  }
  staged_.reset();  // an output never committed goes with its side files
  copyDriver_.clear();
  path_.clear();
}

bool RasterFile::Open(const std::string& path, const bool& stretch,
                      const std::atomic<bool>* cancel, const ReadProgress* progress) {
  if (dataset_) return false;
  path_ = path;
  RegisterGdal();
  {
    GdalErrorScope quiet;
    dataset_ = GDALDataset::FromHandle(GDALOpen(path.c_str(), GA_ReadOnly));
  }
  if (!dataset_) return false;

  width_ = dataset_->GetRasterXSize();
  height_ = dataset_->GetRasterYSize();
  bandCount_ = dataset_->GetRasterCount();
  if (bandCount_ < 1 || width_ < 1 || height_ < 1) {
    lastError_ = "影像没有可读的波段";
    Close();
    return false;
  }
  dataType_ = int(dataset_->GetRasterBand(1)->GetRasterDataType());
  bytesPerSample_ = BytesPerSample(dataType_);
  if (bytesPerSample_ == 0) {
    // Complex and 64-bit integer samples have no size in the table above;
    // every buffer computation would be wrong for them.
    lastError_ = std::string("不支持的像素类型：") + GDALGetDataTypeName(GDALDataType(dataType_));
    Close();
    return false;
  }
  bytesPerPixel_ = bytesPerSample_ * bandCount_;

  double gt[6];
  left_ = 0;
  top_ = 0;
  pixelSize_ = 1.0;
  if (dataset_->GetGeoTransform(gt) == CE_None) {
    left_ = gt[0];
    top_ = gt[3];
    pixelSize_ = gt[1];
  }
  right_ = left_ + width_ * pixelSize_;
  bottom_ = top_ - height_ * pixelSize_;

  stretchSampleSize_ = bytesPerSample_;
  stretchActive_ = bytesPerSample_ == 2 && stretch;
  if (!stretchActive_) return true;
  // A table of zeros would draw the whole image black as if it were so.
  if (LoadOrBuildStretchTable(cancel, progress)) return true;
  const bool stopped = cancel && cancel->load();
  Close();
  lastError_ = stopped ? "已取消" : "无法读取影像以统计拉伸表";
  return false;
}

bool RasterFile::LoadOrBuildStretchTable(const std::atomic<bool>* cancel,
                                         const ReadProgress* progress) {
  const int64_t size = int64_t(bandCount_) * kStretchTableSize;
  stretchTable_.assign(size_t(size), 0);
  const std::string sidecar = StretchTablePath(path_);

  // A sidecar of any other size belongs to another image or was cut short:
  // rebuilding is cheap next to showing a wrong stretch.
  if (FileSize(sidecar) == size && ReadWholeFile(sidecar, stretchTable_.data(), size))
    return true;

  std::vector<uint8_t> built;
  if (!BuildStretchTables(path_, kStretchSubsampleLimit, built, cancel, progress) ||
      int64_t(built.size()) != size) {
    std::fill(stretchTable_.begin(), stretchTable_.end(), 0);
    return false;
  }
  stretchTable_ = std::move(built);
  // A folder we cannot write to only costs a rebuild on the next opening.
  WriteWholeFile(sidecar, stretchTable_.data(), size);
  return true;
}

const uint8_t* RasterFile::StretchTable(int band) const {
  if (!stretchActive_ || band < 0 || band >= bandCount_ || stretchTable_.empty()) return nullptr;
  return stretchTable_.data() + size_t(band) * kStretchTableSize;
}

bool RasterFile::CreateDirect(const std::string& path, int dataType, int width, int height,
                              int bandCount) {
  if (dataset_ || path.empty() || width < 1 || height < 1 || bandCount < 1) return false;
  const char* name = DriverNameFromExtension(path);
  if (!name || (std::strcmp(name, "GTiff") != 0 && std::strcmp(name, "BMP") != 0)) return false;
  if (BytesPerSample(dataType) == 0) return false;
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(name);
  if (!driver) return false;
  dataType_ = dataType;
  width_ = width;
  height_ = height;
  bandCount_ = bandCount;
  bytesPerSample_ = BytesPerSample(dataType);
  bytesPerPixel_ = bytesPerSample_ * bandCount;
  path_ = path;
  GdalErrorScope quiet;
  dataset_ = driver->Create(path.c_str(), width, height, bandCount, GDALDataType(dataType),
                            nullptr);
  if (!dataset_) lastError_ = quiet.Message();
  return dataset_ != nullptr;
}

bool RasterFile::Create(const std::string& path, const int& width, const int& height,
                        const int& bandCount) {
  lastError_.clear();
  if (path.empty() || width < 1 || height < 1 || bandCount < 1 || dataset_) return false;
  RegisterGdal();
  const char* name = DriverNameFromExtension(path);
  if (!name) {
    lastError_ = "不支持的输出格式";
    return false;
  }
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(name);
  if (!driver) {
    lastError_ = std::string("本机的 GDAL 没有 ") + name + " 驱动";
    return false;
  }

  const bool bmp = std::strcmp(name, "BMP") == 0;
  const bool direct =
      std::strcmp(name, "GTiff") == 0 || (bmp && (bandCount == 1 || bandCount == 3));

  // Formats written only by copying (PNG, JPEG, GIF, ...) or refusing this
  // band count: check first that the driver accepts an 8-bit image of this
  // many bands, so nothing is written for a conversion that cannot succeed.
  std::string why;
  if (!direct && !DriverTakesByteImage(driver, ExtensionOf(path), bandCount, why)) {
    lastError_ = std::string(name) + " 格式不能保存 " + std::to_string(bandCount) +
                 " 个波段的 8 位影像" + (why.empty() ? "" : "（" + why + "）");
    return false;
  }

  // A file of that name stays as it is until the new one is complete.
  auto staged = std::make_unique<StagedOutput>(path);
  if (!staged->Open(lastError_)) return false;
  if (direct) {
    if (!CreateDirect(staged->WorkingPath(), GDT_Byte, width, height, bandCount)) return false;
    staged_ = std::move(staged);
    path_ = path;
    return true;
  }

  const std::string working = CreateTempFileWithSuffix("pixelwharf-8bit", ".tif");
  if (working.empty()) {
    lastError_ = "无法创建临时文件";
    return false;
  }
  GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
  GdalErrorScope quiet;
  // BIGTIFF=IF_SAFER: the working copy may exceed 4 GiB for large images.
  const char* options[] = {"BIGTIFF=IF_SAFER", nullptr};
  dataset_ = gtiff ? gtiff->Create(working.c_str(), width, height, bandCount, GDT_Byte,
                                   const_cast<char**>(options))
                   : nullptr;
  if (!dataset_) {
    RemoveFile(working);
    lastError_ = quiet.Message();
    return false;
  }
  staged_ = std::move(staged);
  workingPath_ = working;
  copyDriver_ = name;
  dataType_ = GDT_Byte;
  width_ = width;
  height_ = height;
  bandCount_ = bandCount;
  bytesPerSample_ = 1;
  bytesPerPixel_ = bandCount;
  path_ = path;
  return true;
}

bool RasterFile::FlushOutput() {
  if (!dataset_) return false;
  GdalErrorScope errors;
  dataset_->FlushCache(false);
  return !errors.Failed();
}

std::vector<std::string> RasterFile::OutputFiles() const {
  std::vector<std::string> files;
  if (staged_ && !staged_->WorkingPath().empty()) files.push_back(staged_->WorkingPath());
  if (!workingPath_.empty()) files.push_back(workingPath_);
  return files;
}

bool RasterFile::SetBandPalette(int band, const std::vector<uint8_t>& rgba) {
  if (!dataset_ || band < 0 || band >= bandCount_ || rgba.size() < 4 ||
      rgba.size() > size_t(256) * 4)
    return false;
  GdalErrorScope errors;
  GDALColorTable table;
  for (size_t i = 0; i < rgba.size() / 4; ++i) {
    const GDALColorEntry e{short(rgba[i * 4]), short(rgba[i * 4 + 1]), short(rgba[i * 4 + 2]),
                           short(rgba[i * 4 + 3])};
    table.SetColorEntry(int(i), &e);
  }
  GDALRasterBand* b = dataset_->GetRasterBand(band + 1);
  const bool ok = b->SetColorTable(&table) == CE_None &&
                  b->SetColorInterpretation(GCI_PaletteIndex) == CE_None;
  return ok && !errors.Failed();
}

bool RasterFile::CommitOutput(const std::atomic<bool>* cancel) {
  if (!dataset_ || !staged_) return false;
  GdalErrorScope errors;
  dataset_->FlushCache(false);
  bool ok = !errors.Failed();
  if (copyDriver_.empty()) {
    GDALClose(GDALDataset::ToHandle(dataset_));
    dataset_ = nullptr;
    ok = ok && !errors.Failed();
  } else if (ok) {
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(copyDriver_.c_str());
    ReadWatch watch{cancel, nullptr};
    GDALDataset* out = driver ? driver->CreateCopy(staged_->WorkingPath().c_str(), dataset_, FALSE,
                                                   nullptr, WatchRead, &watch)
                              : nullptr;
    ok = out != nullptr && !errors.Failed();
    if (out) GDALClose(GDALDataset::ToHandle(out));
    ok = ok && !errors.Failed();
  }
  if (!ok) lastError_ = errors.Message().empty() ? "写入失败" : errors.Message();
  const std::string target = path_;
  std::unique_ptr<StagedOutput> staged = std::move(staged_);
  Close();  // also removes the temporary GeoTIFF
  path_ = target;
  std::string why;
  if (ok && !staged->Commit(why)) {
    lastError_ = why;
    ok = false;
  }
  return ok;  // an output not placed is removed with `staged`
}

void RasterFile::DiscardOutput() { Close(); }

bool RasterFile::CopyGeoreferencingFrom(const RasterFile& input, bool noData) {
  if (!dataset_ || !input.dataset_) return false;
  GdalErrorScope quiet;
  bool ok = true;
  double gt[6];
  if (input.dataset_->GetGeoTransform(gt) == CE_None)
    ok = dataset_->SetGeoTransform(gt) == CE_None && ok;
  if (const OGRSpatialReference* srs = input.dataset_->GetSpatialRef())
    ok = dataset_->SetSpatialRef(srs) == CE_None && ok;
  for (int b = 0; noData && b < std::min(bandCount_, input.bandCount_); ++b) {
    int has = FALSE;
    const double nodata = input.dataset_->GetRasterBand(b + 1)->GetNoDataValue(&has);
    if (!has || !std::isfinite(nodata)) continue;
    double mapped = nodata;
    if (const uint8_t* table = input.StretchTable(b)) {
      // The stretch reads 16-bit samples as unsigned: so does this.
      if (nodata != std::floor(nodata) || nodata < -32768 || nodata > 65535) continue;
      mapped = table[uint16_t(int32_t(nodata))];
    } else if (nodata < 0 || nodata > 255 || nodata != std::floor(nodata)) {
      continue;  // no byte holds it
    }
    ok = dataset_->GetRasterBand(b + 1)->SetNoDataValue(mapped) == CE_None && ok;
  }
  return ok && !quiet.Failed();
}

int RasterFile::ReadWindow(int x0, int y0, int x1, int y1, void* buffer, int bufW, int bufH,
                           int samplesPerPixel, int outW, int outH, int band,
                           const std::atomic<bool>* cancel, int bufferType,
                           const ReadProgress* progress) {
  if (!dataset_ || !buffer) return 1;
  if (x0 >= width_ || y0 >= height_ || x1 <= 0 || y1 <= 0) return 1;
  if (x1 <= x0 || y1 <= y0 || outW < 1 || outH < 1 || bufW < 1 || bufH < 1 ||
      samplesPerPixel < 1)
    return 1;
  if (band == -1 ? samplesPerPixel != bandCount_ : (band < 0 || band >= bandCount_)) return 1;

  const double s = double(outW) / double(x1 - x0);
  const int skipLeft = int(std::max(0, -x0) * s);
  const int skipBottom = int(std::max(0, -y0) * s);
  const int skipRight = int(std::max(0, x1 - width_) * s);
  const int skipTop = int(std::max(0, y1 - height_) * s);
  const int ow = outW - skipLeft - skipRight;
  const int oh = outH - skipBottom - skipTop;
  if (ow < 1 || oh < 1) return 0;  // the inside part is thinner than one output pixel
  if (int64_t(skipLeft) + ow > bufW || int64_t(skipBottom) + oh > bufH) return 1;

  const int cx0 = std::max(0, x0), cx1 = std::min(width_, x1);
  const int cy0 = std::max(0, y0), cy1 = std::min(height_, y1);
  const int gdalY = height_ - cy1;  // GDAL counts rows from the top

  const int type = bufferType != 0 && !stretchActive_ ? bufferType : dataType_;
  if (BytesPerSample(type) == 0) return 1;
  const int64_t sampleBytes = stretchActive_ ? 1 : BytesPerSample(type);
  const int64_t pixelStep = int64_t(samplesPerPixel) * sampleBytes;
  const int64_t lineStep = int64_t(bufW) * pixelStep;
  // The window's top row goes to the highest buffer row used, and each
  // later GDAL row one buffer row lower.
  uint8_t* dest = static_cast<uint8_t*>(buffer) + (int64_t(skipBottom) + oh - 1) * lineStep +
                  int64_t(skipLeft) * pixelStep;

  GDALRasterIOExtraArg extra;
  INIT_RASTERIO_EXTRA_ARG(extra);
  ReadWatch watch{cancel, progress};
  if (cancel || progress) {
    extra.pfnProgress = WatchRead;
    extra.pProgressData = &watch;
  }

  GdalErrorScope quiet;
  if (stretchActive_)
    return ReadStretched(cx0, gdalY, cx1 - cx0, cy1 - cy0, dest, pixelStep, lineStep, ow, oh,
                         band, &extra);

  CPLErr err;
  if (band == -1) {
    std::vector<int> bandMap = BandMap(bandCount_);
    err = dataset_->RasterIO(GF_Read, cx0, gdalY, cx1 - cx0, cy1 - cy0, dest, ow, oh,
                             GDALDataType(type), bandCount_, bandMap.data(), pixelStep,
                             -lineStep, sampleBytes, &extra);
  } else {
    err = dataset_->GetRasterBand(band + 1)->RasterIO(GF_Read, cx0, gdalY, cx1 - cx0, cy1 - cy0,
                                                      dest, ow, oh, GDALDataType(type),
                                                      pixelStep, -lineStep, &extra);
  }
  return err == CE_Failure ? 1 : 0;
}

int RasterFile::ReadReducedRows(int outW, int outH, int top, int rows, void* buffer,
                                int samplesPerPixel, int band, int bufferType) {
  if (!dataset_ || !buffer || stretchActive_ || outW < 1 || outH < 1 || top < 0 || rows < 1 ||
      top > outH - rows || samplesPerPixel < 1)
    return 1;
  if (band == -1 ? samplesPerPixel != bandCount_ : (band < 0 || band >= bandCount_)) return 1;
  const int type = bufferType != 0 ? bufferType : dataType_;
  const int64_t sampleBytes = BytesPerSample(type);
  if (sampleBytes == 0) return 1;
  const int64_t pixelStep = int64_t(samplesPerPixel) * sampleBytes;
  const int64_t lineStep = int64_t(outW) * pixelStep;

  // The whole read's rows, scaled: the row window in whole rows covers it.
  const double rowScale = double(height_) / outH;
  GDALRasterIOExtraArg extra;
  INIT_RASTERIO_EXTRA_ARG(extra);
  extra.bFloatingPointWindowValidity = TRUE;
  extra.dfXOff = 0;
  extra.dfXSize = width_;
  extra.dfYOff = top * rowScale;
  extra.dfYSize = rows * rowScale;
  const int y0 = std::clamp(int(std::floor(extra.dfYOff)), 0, height_ - 1);
  const int y1 = std::clamp(int(std::ceil(extra.dfYOff + extra.dfYSize)), y0 + 1, height_);

  GdalErrorScope quiet;
  CPLErr err;
  if (band == -1) {
    std::vector<int> bandMap = BandMap(bandCount_);
    err = dataset_->RasterIO(GF_Read, 0, y0, width_, y1 - y0, buffer, outW, rows,
                             GDALDataType(type), bandCount_, bandMap.data(), pixelStep, lineStep,
                             sampleBytes, &extra);
  } else {
    err = dataset_->GetRasterBand(band + 1)->RasterIO(GF_Read, 0, y0, width_, y1 - y0, buffer,
                                                      outW, rows, GDALDataType(type), pixelStep,
                                                      lineStep, &extra);
  }
  return err == CE_Failure ? 1 : 0;
}

bool RasterFile::HasOverviewFor(int outW) const {
  if (!dataset_ || bandCount_ < 1 || outW < 1 || outW >= width_) return false;
  GdalErrorScope quiet;
  GDALRasterBand* band = dataset_->GetRasterBand(1);
  for (int i = 0; i < band->GetOverviewCount(); ++i) {
    GDALRasterBand* overview = band->GetOverview(i);
    if (overview && overview->GetXSize() < width_ && overview->GetXSize() * 1.2 >= outW)
      return true;
  }
  return false;
}

int RasterFile::ReadStretched(int cx0, int gdalY, int cw, int ch, uint8_t* dest,
                              int64_t pixelStep, int64_t lineStep, int ow, int oh, int band,
                              void* extraArg) {
  auto* extra = static_cast<GDALRasterIOExtraArg*>(extraArg);
  const int bands = band == -1 ? bandCount_ : 1;
  // The raw samples, top-down and tightly packed; at most the size of the
  // part of the caller's buffer being filled, times two.
  std::vector<uint16_t> raw(size_t(ow) * size_t(oh) * size_t(bands));
  CPLErr err;
  if (band == -1) {
    std::vector<int> bandMap = BandMap(bandCount_);
    err = dataset_->RasterIO(GF_Read, cx0, gdalY, cw, ch, raw.data(), ow, oh,
                             GDALDataType(dataType_), bandCount_, bandMap.data(), 2 * bands,
                             int64_t(2) * bands * ow, 2, extra);
  } else {
    err = dataset_->GetRasterBand(band + 1)->RasterIO(GF_Read, cx0, gdalY, cw, ch, raw.data(), ow,
                                                      oh, GDALDataType(dataType_), 2,
                                                      int64_t(2) * ow, extra);
  }
  if (err == CE_Failure) return 1;

  const bool zeroPixelIsBlack = band == -1 && dataType_ == GDT_UInt16;
  for (int r = 0; r < oh; ++r) {
    const uint16_t* src = raw.data() + size_t(r) * ow * bands;
    uint8_t* row = dest - int64_t(r) * lineStep;
    for (int c = 0; c < ow; ++c, src += bands) {
      uint8_t* px = row + int64_t(c) * pixelStep;
      if (band != -1) {
        px[0] = stretchTable_[size_t(band) * kStretchTableSize + src[0]];
        continue;
      }
      bool allZero = zeroPixelIsBlack;
      for (int b = 0; b < bands && allZero; ++b) allZero = src[b] == 0;
      for (int b = 0; b < bands; ++b)
        px[b] = allZero ? 0 : stretchTable_[size_t(b) * kStretchTableSize + src[b]];
    }
  }
  return 0;
}

bool RasterFile::BandPalette(int band, std::vector<uint8_t>& rgba) const {
  rgba.clear();
  if (!dataset_ || band < 0 || band >= bandCount_) return false;
  GDALRasterBand* b = dataset_->GetRasterBand(band + 1);
  if (b->GetColorInterpretation() != GCI_PaletteIndex) return false;
  const GDALColorTable* table = b->GetColorTable();
  if (!table) return false;
  const int count = std::min(table->GetColorEntryCount(), 65536);
  if (count < 1) return false;
  rgba.resize(size_t(count) * 4);
  for (int i = 0; i < count; ++i) {
    // Grey, CMYK and HLS tables too, as GDAL turns them into RGB.
    GDALColorEntry e{};
    table->GetColorEntryAsRGB(i, &e);
    uint8_t* out = &rgba[size_t(i) * 4];
    out[0] = uint8_t(std::clamp<int>(e.c1, 0, 255));
    out[1] = uint8_t(std::clamp<int>(e.c2, 0, 255));
    out[2] = uint8_t(std::clamp<int>(e.c3, 0, 255));
    out[3] = uint8_t(std::clamp<int>(e.c4, 0, 255));
  }
  return true;
}

bool RasterFile::ComputeMinMax(int band, double& low, double& high,
                               const std::atomic<bool>* cancel, const ReadProgress* progress) {
  if (!dataset_ || band < 0 || band >= bandCount_) return false;
  GdalErrorScope quiet;
  GDALRasterBand* full = dataset_->GetRasterBand(band + 1);
  int hasNoData = FALSE;
  const double noData = full->GetNoDataValue(&hasNoData);
  // The samples GDAL's own estimate looks at: an overview with enough of
  // them, then every n-th block, n the square root of the block count. A
  // block is the smallest piece a read can be stopped between.
  constexpr int kApproxSamples = 2500;
  GDALRasterBand* source = full->GetRasterSampleOverview(kApproxSamples);
  if (!source) source = full;
  int blockW = 0, blockH = 0;
  source->GetBlockSize(&blockW, &blockH);
  const int w = source->GetXSize(), h = source->GetYSize();
  if (blockW < 1 || blockH < 1 || w < 1 || h < 1) return false;
  const int64_t across = (w + int64_t(blockW) - 1) / blockW;
  const int64_t down = (h + int64_t(blockH) - 1) / blockH;
  const int64_t blocks = across * down;
  const int64_t step = std::max<int64_t>(1, int64_t(std::sqrt(double(blocks))));
  const int64_t visits = (blocks + step - 1) / step;
  std::vector<double> samples;
  double lo = HUGE_VAL, hi = -HUGE_VAL;
  int64_t visited = 0;
  for (int64_t k = 0; k < blocks; k += step, ++visited) {
    if (cancel && cancel->load(std::memory_order_relaxed)) return false;
    const int bx = int((k % across) * blockW), by = int((k / across) * blockH);
    const int bw = std::min(blockW, w - bx), bh = std::min(blockH, h - by);
    samples.resize(size_t(bw) * bh);
    // Within the block the read hears the same checks as any other.
    const ReadProgress share = [&](double f) {
      return !progress || !*progress || (*progress)((visited + f) / visits);
    };
    ReadWatch watch{cancel, &share};
    GDALRasterIOExtraArg extra;
    INIT_RASTERIO_EXTRA_ARG(extra);
    extra.pfnProgress = WatchRead;
    extra.pProgressData = &watch;
    if (source->RasterIO(GF_Read, bx, by, bw, bh, samples.data(), bw, bh, GDT_Float64, 0, 0,
                         &extra) != CE_None)
      return false;
    for (double v : samples) {
      if (std::isnan(v) || (hasNoData && v == noData)) continue;
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
    if (progress && *progress && !(*progress)(double(visited + 1) / visits)) return false;
  }
  if (!(lo <= hi)) return false;
  low = lo;
  high = hi;
  return std::isfinite(low) && std::isfinite(high);
}

int RasterFile::WriteWindow(int y0, int x1, int y1, const void* buffer, int bufW,
                            int samplesPerPixel, int outW, int outH) {
  if (!dataset_ || !buffer) return 1;
  if (width_ <= 0 || y0 >= height_ || x1 <= 0 || y1 <= 0) return 1;
  if (samplesPerPixel != bandCount_ || y1 <= y0 || outW < 1 || outH < 1) return 1;
  // One buffer pixel per image pixel: the buffer must hold the clipped
  // window exactly and its rows must be wide enough.
  const int cx1 = std::min(width_, x1);
  const int cy0 = std::max(0, y0), cy1 = std::min(height_, y1);
  if (outW != x1 || outH != y1 - y0 || bufW < cx1) return 1;

  const int64_t pixelStep = int64_t(samplesPerPixel) * bytesPerSample_;
  const int64_t lineStep = int64_t(bufW) * pixelStep;
  // Rows below the image (y0 < 0) are skipped at the bottom of the buffer.
  const uint8_t* top = static_cast<const uint8_t*>(buffer) + int64_t(cy1 - 1 - y0) * lineStep;
  std::vector<int> bandMap = BandMap(bandCount_);
  GDALRasterIOExtraArg extra;
  INIT_RASTERIO_EXTRA_ARG(extra);
  GdalErrorScope errors;
  const CPLErr err =
      dataset_->RasterIO(GF_Write, 0, height_ - cy1, cx1, cy1 - cy0, const_cast<uint8_t*>(top),
                         cx1, cy1 - cy0, GDALDataType(dataType_), bandCount_, bandMap.data(),
                         pixelStep, -lineStep, bytesPerSample_, &extra);
  return err == CE_Failure || errors.Failed() ? 1 : 0;
}

}  // namespace pw
