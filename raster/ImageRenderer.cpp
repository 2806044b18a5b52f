#include "raster/ImageRenderer.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>

#include <algorithm>
#include <mutex>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/background_work.h"
#include "raster/PictureThreads.h"
#include "raster/StretchTable.h"

namespace pw {

std::mutex g_RereadMutex;
std::mutex g_DisplayBufferMutex;

namespace {

// The UI's pixel query waits this long for a re-read to let go of the file;
// past it the readout simply stays as it was.
constexpr auto kPixelQueryWait = std::chrono::milliseconds(30);
// How often a long opening reports its progress.
constexpr auto kProgressInterval = std::chrono::milliseconds(30);

int64_t SampleAsInteger(const uint8_t* p, int dataType) {
  switch (dataType) {
    case GDT_Byte: return p[0];
    case GDT_UInt16: { uint16_t v; std::memcpy(&v, p, 2); return v; }
    case GDT_Int16: { int16_t v; std::memcpy(&v, p, 2); return v; }
    case GDT_UInt32: { uint32_t v; std::memcpy(&v, p, 4); return v; }
    case GDT_Int32: { int32_t v; std::memcpy(&v, p, 4); return v; }
    case GDT_Float32: {
      float v; std::memcpy(&v, p, 4);
      return std::isfinite(v) ? int64_t(std::clamp<double>(v, -9e18, 9e18)) : 0;
    }
    case GDT_Float64: {
      double v; std::memcpy(&v, p, 8);
      return std::isfinite(v) ? int64_t(std::clamp(v, -9e18, 9e18)) : 0;
    }
    default: return 0;
  }
}

// Sizes a picture buffer to `bytes` zeros, a slice at a time: a few hundred
// megabytes take a while, and an opening may be cancelled meanwhile. False
// when it was.
bool ZeroFill(PictureBytes& buffer, size_t bytes, const std::function<bool(double)>& tell) {
  constexpr size_t kSlice = size_t(16) << 20;
  // A large buffer made here comes from the kernel, zeroed already.
  const bool fresh = buffer.capacity() == 0 && bytes >= kLargePictureBuffer;
  buffer.resize(bytes);
  if (fresh) return tell(0);
  for (size_t at = 0; at < bytes; at += kSlice) {
    std::memset(buffer.data() + at, 0, std::min(kSlice, bytes - at));
    if (!tell(0)) return false;
  }
  return true;
}

}  // namespace

ImageRenderer::ImageRenderer(RendererHost* view, const std::string& path, uint8_t* dib, int W,
                             int H, const OpenProgress& progress,
                             const std::atomic<bool>* cancel) {
  if (!view || path.empty()) return;
  Reset();
  view_ = view;
  if (!dib || W < 1 || H < 1) return;
  dib_ = dib;
  W_ = W;
  H_ = H;
  auto raster = std::make_unique<RasterFile>();
  const bool stretch = false;
  if (!raster->Open(path, stretch)) {
    openError_ = raster->LastError();
    return;  // an empty engine: background only
  }
  raster_ = std::move(raster);
  imgW_ = raster_->Width();
  imgH_ = raster_->Height();
  bandCount_ = raster_->BandCount();
  bytesPerSample_ = raster_->BytesPerSampleOfFile();
  // A palette-index band (a GIF, a land-cover map) is drawn through its
  // colour table; grey indices would be a meaningless picture. Several such
  // bands are an animated GIF's frames: the first is shown.
  std::vector<uint8_t> rgba;
  const int type = raster_->DataType();
  if ((type == GDT_Byte || type == GDT_UInt16) && raster_->BandPalette(0, rgba)) {
    palette_.assign(size_t(3) << (8 * bytesPerSample_), 0);
    const size_t entries = std::min(rgba.size() / 4, palette_.size() / 3);
    for (size_t i = 0; i < entries; ++i) {
      const uint8_t* e = &rgba[i * 4];
      uint8_t* out = &palette_[i * 3];
      const bool clear = e[3] == 0;
      out[0] = clear ? kBackground : e[0];
      out[1] = clear ? kBackground : e[1];
      out[2] = clear ? kBackground : e[2];
    }
  }
  // The caller hears of the progress at once and then at most every few
  // tens of milliseconds; the answer is whether to go on reading.
  std::chrono::steady_clock::time_point lastTold{};
  const std::function<bool(double)> tell = [&](double fraction) {
    if (cancel && cancel->load(std::memory_order_relaxed)) return false;
    if (OpeningProgressTestHook()) OpeningProgressTestHook()(fraction);
    if (!progress) return true;
    const auto now = std::chrono::steady_clock::now();
    if (fraction < 1 && now - lastTold < kProgressInterval) return true;
    lastTold = now;
    progress(std::clamp(fraction, 0.0, 1.0));
    return true;
  };
  // Wider samples first need each band's range: that pass takes the first
  // part of the gauge and stops as the reading does.
  double minMaxShare = 0;
  if (bytesPerSample_ <= 2) {
    displayType_ = raster_->DataType();
    displayBytes_ = bytesPerSample_;
  } else {
    displayType_ = GDT_Float32;
    displayBytes_ = 4;
    const int bands = std::min(bandCount_, 3);
    minMaxShare = 0.1;
    for (int b = 0; b < bands; ++b) {
      const ReadProgress bandProgress = [&](double f) {
        return tell(minMaxShare * (b + f) / bands);
      };
      double low = 0, high = 0;
      const bool found = raster_->ComputeMinMax(b, low, high, cancel, &bandProgress);
      if (cancel && cancel->load()) {
        cancelled_ = true;
        return;
      }
      if (!found) continue;
      bandLow_[b] = low;
      bandScale_[b] = 255.0 / (high - low);
      if (high <= low) {  // one value throughout: mid grey
        bandLow_[b] = low - 128;
        bandScale_[b] = 1;
      }
    }
  }
  FitToWindow();
  const std::function<bool(double)> overviewTell = [&](double fraction) {
    return tell(minMaxShare + (1 - minMaxShare) * fraction);
  };
  BuildOverview(overviewTell, cancel);
  cancelled_ = cancel && cancel->load();
}

ImageRenderer::~ImageRenderer() { Release(); }

void ImageRenderer::Reset() {
  dragging_ = false;
  overviewOnly_ = true;
  ready_ = false;
  s_ = requestedScale_ = ovScale_ = 1.0;
  dib_ = nullptr;
  W_ = H_ = 0;
  dx_ = dy_ = offX_ = offY_ = 0;
  imgW_ = imgH_ = ovW_ = ovH_ = bandCount_ = bytesPerSample_ = 0;
  displayType_ = displayBytes_ = 0;
  x_ = y_ = w_ = h_ = 0;
}

void ImageRenderer::StopWorker() {
  {
    std::lock_guard<std::mutex> lock(slotMutex_);
    stop_ = true;
    abortRead_ = true;
  }
  slotCv_.notify_all();
  {
    std::lock_guard<std::mutex> lock(sampleMutex_);
    sampleStop_ = true;
  }
  sampleCv_.notify_all();
  if (worker_.joinable()) worker_.join();
  if (sampler_.joinable()) sampler_.join();
}

void ImageRenderer::Release() {
  StopWorker();
  {
    std::lock_guard<std::mutex> lock(rasterMutex_);
    raster_.reset();
  }
  overview_ = {};
  stretchTable_ = {};
  {
    std::lock_guard<std::mutex> lock(g_DisplayBufferMutex);
    displayBuffer_ = {};
  }
  workerBuffer_ = {};
  ready_ = false;
}

void ImageRenderer::FitToWindow() {
  if (W_ < 1 || H_ < 1 || imgW_ < 1 || imgH_ < 1) return;
  std::lock_guard<std::mutex> lock(placementMutex_);
  s_ = std::min(double(H_) / imgH_, double(W_) / imgW_);
  s_ = std::min(s_, 1.0);
  requestedScale_ = s_;
  if (W_ > imgW_ * s_) offX_ = (W_ - imgW_ * s_) / 2;
  if (H_ > imgH_ * s_) offY_ = (H_ - imgH_ * s_) / 2;
  x_ = Nearest(offX_);
  y_ = Nearest(offY_);
  w_ = Nearest(imgW_ * s_);
  h_ = Nearest(imgH_ * s_);
}

int ImageRenderer::ReadDisplayBands(RasterFile& file, int x0, int y0, int x1, int y1,
                                    uint8_t* buf, int bufW, int bufH, int outW, int outH,
                                    const std::atomic<bool>* cancel,
                                    const ReadProgress* progress) {
  const int used = ShownBands();
  if (used == bandCount_)
    return file.ReadWindow(x0, y0, x1, y1, buf, bufW, bufH, used, outW, outH, -1, cancel,
                           displayType_, progress);
  for (int b = 0; b < used; ++b) {
    // Band by band: the progress of each read covers its share.
    ReadProgress share;
    if (progress && *progress)
      share = [&, b](double f) { return (*progress)((b + f) / used); };
    if (file.ReadWindow(x0, y0, x1, y1, buf + size_t(b) * displayBytes_, bufW, bufH, used, outW,
                        outH, b, cancel, displayType_, progress ? &share : nullptr) != 0)
      return 1;
  }
  return 0;
}

void ImageRenderer::FitToView() {
  {
    std::lock_guard<std::mutex> lock(placementMutex_);
    offX_ = offY_ = dx_ = dy_ = 0;
  }
  FitToWindow();
}

void ImageRenderer::BuildOverview(const std::function<bool(double)>& tell,
                                  const std::atomic<bool>* cancel) {
  double so = std::min(double(kOverviewLimit) / imgW_, double(kOverviewLimit) / imgH_);
  ovW_ = Nearest(imgW_ * so);
  ovH_ = Nearest(imgH_ * so);
  if (so >= 1) {
    so = 1;
    ovW_ = imgW_;
    ovH_ = imgH_;
  }
  ovScale_ = so;
  const size_t overviewBytes = size_t(ovW_) * ovH_ * 3;

  // The opening reads through a handle of its own on which GDAL reads an
  // uncompressed GeoTIFF straight into the caller's buffer rather than
  // through its block cache: a third faster for one pass over the file.
  // The driver takes the option when it opens the file and, on first use,
  // its overviews; it is set for this thread while the overview is built.
  // The re-reads keep the engine's handle and the cache, which serves their
  // repeated reads of the same blocks.
  struct DirectReads {
    DirectReads() { CPLSetThreadLocalConfigOption("GTIFF_DIRECT_IO", "YES"); }
    ~DirectReads() { CPLSetThreadLocalConfigOption("GTIFF_DIRECT_IO", nullptr); }
  } directReads;
  RasterFile direct;
  const bool noStretch = false;
  RasterFile& source = direct.Open(raster_->Path(), noStretch) ? direct : *raster_;

  // The overview's samples as the file has them; 16-bit ones are mapped
  // once the whole image has given its histogram.
  PictureBytes raw;
  std::lock_guard<std::mutex> lock(rasterMutex_);
  // A reduced read of the whole image that GDAL serves from the file's
  // overviews; without them it would pick pixels of its own, so such files
  // keep the one full-resolution pass below.
  overviewFromFile_ = so < 1 && source.HasOverviewFor(ovW_) && ReadReducedOverview(source, tell);
  if (!overviewFromFile_) {
    // Strips are drawn into it as they come; what is not read stays black.
    if (!Stretched() && !ZeroFill(overview_, overviewBytes, tell)) return;
    ReadOverviewStrips(source, raw, tell);
  }
  if (cancel && cancel->load()) return;  // the engine is thrown away
  if (!raw.empty() && !MapOverview(raw)) overview_.assign(overviewBytes, 0);
  // Not one block of the image could be read: there is nothing to show,
  // and the opening failed, with GDAL's reason.
  int64_t unread = 0;
  for (const Rect& r : damage_) unread += int64_t(r.x1 - r.x0) * (r.y1 - r.y0);
  if (!damage_.empty() && unread >= int64_t(imgW_) * imgH_) {
    openError_ = damageReason_;
    raster_.reset();
    overview_ = {};
    return;
  }
  HatchDamage();
  tell(1.0);
}

bool ImageRenderer::CanMapOverview() const {
  const bool grey = ShownBands() == 1, rgb = !Paletted() && bandCount_ >= 3;
  const bool tables = stretchTable_.size() >= size_t(bandCount_) * 65536;
  return (grey || rgb) && (!Stretched() || tables);
}

bool ImageRenderer::MapOverview(const PictureBytes& raw) {
  if (!CanMapOverview()) return false;
  const size_t pixels = size_t(ovW_) * ovH_;
  const size_t pixelBytes = size_t(ShownBands()) * displayBytes_;
  overview_.resize(pixels * 3);
  // Every pixel on its own: the cores share the pixels.
  ForEachShare(pixels, size_t(1) << 20, [&](size_t begin, size_t end) {
    MapOverviewPixels(raw.data() + begin * pixelBytes, begin, end - begin);
  });
  return true;
}

void ImageRenderer::MapOverviewPixels(const uint8_t* src, size_t first, size_t count) {
  const bool grey = ShownBands() == 1, rgb = !Paletted() && bandCount_ >= 3;
  uint8_t* out = overview_.data() + first * 3;
  if (Paletted()) {
    const size_t pixelBytes = size_t(displayBytes_);
    const uint8_t* px = src;
    for (size_t k = 0; k < count; ++k, px += pixelBytes, out += 3) PixelToBgr(px, false, out);
    return;
  }
  // The common cases written out; the rest pixel by pixel through the
  // rule ScaleBlitBands applies.
  if (displayBytes_ == 2 && grey) {
    const uint8_t* table = stretchTable_.data();
    const auto* v = reinterpret_cast<const uint16_t*>(src);
    for (size_t k = 0; k < count; ++k, out += 3) out[0] = out[1] = out[2] = table[v[k]];
  } else if (displayBytes_ == 2) {
    const uint8_t* t0 = stretchTable_.data();
    const auto* v = reinterpret_cast<const uint16_t*>(src);
    for (size_t k = 0; k < count; ++k, out += 3, v += 3) {
      out[0] = t0[2 * 65536 + v[2]];
      out[1] = t0[65536 + v[1]];
      out[2] = t0[v[0]];
    }
  } else if (displayBytes_ == 1 && grey) {
    for (size_t k = 0; k < count; ++k, out += 3) out[0] = out[1] = out[2] = src[k];
  } else {
    const size_t pixelBytes = size_t(ShownBands()) * displayBytes_;
    const uint8_t* px = src;
    for (size_t k = 0; k < count; ++k, px += pixelBytes, out += 3) PixelToBgr(px, rgb, out);
  }
}

RasterFile* ImageRenderer::WorkerFile(RasterFile& source,
                                      std::vector<std::unique_ptr<RasterFile>>& files,
                                      int worker) {
  if (worker == 0) return &source;
  std::unique_ptr<RasterFile>& file = files[size_t(worker)];
  if (!file) {
    // The same direct reads as the opening's own handle (see BuildOverview);
    // the worker's thread ends with the opening.
    CPLSetThreadLocalConfigOption("GTIFF_DIRECT_IO", "YES");
    auto opened = std::make_unique<RasterFile>();
    const bool noStretch = false;
    if (!opened->Open(source.Path(), noStretch)) return nullptr;
    file = std::move(opened);
  }
  return file.get();
}

bool ImageRenderer::ReadReducedOverview(RasterFile& source,
                                        const std::function<bool(double)>& tell) {
  // Pieces of a few megabytes, each read straight into the colours it
  // gives: no buffer of the overview's raw samples is ever made, so the
  // memory an opening touches for the first time is the overview's own.
  // 16-bit samples are read twice, once for the histogram the stretch is
  // counted over (every overview pixel) and once to map them, a cheaper
  // second reading than a few hundred megabytes of fresh memory.
  const int used = ShownBands();
  const size_t pixelBytes = size_t(used) * displayBytes_;
  const size_t rowBytes = size_t(ovW_) * pixelBytes;
  const int pieceRows = int(std::clamp<size_t>((size_t(4) << 20) / rowBytes, 1, size_t(ovH_)));
  const size_t pieces = (size_t(ovH_) + pieceRows - 1) / pieceRows;
  const int workers = PictureThreadCount();
  std::vector<std::unique_ptr<RasterFile>> files(static_cast<size_t>(workers));
  std::vector<std::vector<uint8_t>> buffers(static_cast<size_t>(workers));
  // Rows of the piece from the top into the worker's buffer; null when the
  // read failed.
  auto read = [&](size_t piece, int worker, int& top, int& rows) -> const uint8_t* {
    RasterFile* file = WorkerFile(source, files, worker);
    if (!file) return nullptr;
    top = int(piece) * pieceRows;
    rows = std::min(pieceRows, ovH_ - top);
    std::vector<uint8_t>& buffer = buffers[size_t(worker)];
    buffer.resize(rowBytes * size_t(rows));
    if (used == bandCount_) {
      if (file->ReadReducedRows(ovW_, ovH_, top, rows, buffer.data(), used, -1, displayType_))
        return nullptr;
    } else {
      for (int b = 0; b < used; ++b)
        if (file->ReadReducedRows(ovW_, ovH_, top, rows, buffer.data() + size_t(b) * displayBytes_,
                                  used, b, displayType_))
          return nullptr;
    }
    return buffer.data();
  };
  const bool words = Stretched();
  const double countShare = words ? 0.45 : 0;
  if (words) {
    std::vector<StretchHistogram> histograms(size_t(workers),
                                             StretchHistogram(ovW_, ovH_, used, kOverviewLimit));
    const bool counted = ForEachChunk(
        pieces, workers,
        [&](size_t piece, int worker) {
          int top = 0, rows = 0;
          const uint8_t* samples = read(piece, worker, top, rows);
          if (!samples) return false;
          histograms[size_t(worker)].AddEvery(reinterpret_cast<const uint16_t*>(samples),
                                              size_t(ovW_) * rows, used);
          return true;
        },
        [&](double f) { return tell(countShare * f); });
    if (!counted) return false;
    SetStretchTables(SumStretchCounts(histograms), used);
  }
  overview_.resize(size_t(ovW_) * ovH_ * 3);  // fresh memory: zeros
  if (!CanMapOverview()) return true;          // such bands show black
  return ForEachChunk(
      pieces, workers,
      [&](size_t piece, int worker) {
        int top = 0, rows = 0;
        const uint8_t* samples = read(piece, worker, top, rows);
        if (!samples) return false;
        // The overview is bottom-up: the piece's top row is its row
        // ovH - 1 - top.
        for (int k = 0; k < rows; ++k)
          MapOverviewPixels(samples + size_t(k) * rowBytes, size_t(ovH_ - 1 - top - k) * ovW_,
                            size_t(ovW_));
        return true;
      },
      [&](double f) { return tell(countShare + (0.95 - countShare) * f); });
}

void ImageRenderer::ReadOverviewStrips(RasterFile& source, PictureBytes& raw,
                                       const std::function<bool(double)>& tell) {
  const double so = ovScale_;
  const int used = ShownBands();
  const bool words = Stretched();
  const int64_t rowBytes = int64_t(imgW_) * used * displayBytes_;
  const int stripRows = StretchStripRows(rowBytes);
  const int64_t stripBytes = rowBytes * stripRows;
  // Strips side by side, each worker with a strip buffer of its own: as
  // many as keep those buffers within 160 MB together.
  const int workers = int(std::clamp<int64_t>((int64_t(160) << 20) / std::max<int64_t>(stripBytes, 1),
                                              1, PictureThreadCount()));
  std::vector<std::unique_ptr<RasterFile>> files(static_cast<size_t>(workers));
  std::vector<PictureBytes> strips(static_cast<size_t>(workers));
  // The stretch's histogram is counted from the same strips, on the
  // overview's grid, so the file is read once; each worker counts the
  // strips it read (they come to it in order, and every grid row lies in
  // one strip) and the counts are summed.
  std::vector<StretchHistogram> histograms;
  if (words) {
    histograms.assign(size_t(workers), StretchHistogram(imgW_, imgH_, used, kOverviewLimit));
    if (!ZeroFill(raw, size_t(ovW_) * ovH_ * used * displayBytes_, tell)) return;
  }
  // Strips finish out of order: the gauge never goes back.
  double shown = 0;
  const std::function<bool(double)> forward = [&](double f) {
    shown = std::max(shown, f);
    return tell(shown);
  };
  std::mutex damageLock;
  const std::function<bool(double)> keepGoing = [](double) { return true; };
  const size_t count = (size_t(imgH_) + stripRows - 1) / stripRows;
  const bool whole = ForEachChunk(
      count, workers,
      [&](size_t k, int worker) {
        const int first = int(k) * stripRows;
        const int rows = std::min(stripRows, imgH_ - first);
        RasterFile* file = WorkerFile(source, files, worker);
        if (!file) return true;  // the strip stays black, as an unreadable one
        PictureBytes& strip = strips[size_t(worker)];
        if (strip.empty()) strip.resize(size_t(stripBytes));
        // The opening's own thread hears the progress inside its reads.
        const ReadProgress readProgress = [&](double f) {
          return forward((first + f * rows) / imgH_);
        };
        CPLErrorReset();
        if (ReadDisplayBands(*file, 0, first, imgW_, first + rows, strip.data(), imgW_, stripRows,
                             imgW_, rows, nullptr, worker == 0 ? &readProgress : nullptr) != 0) {
          if (worker == 0 && !forward(double(first) / imgH_)) return false;  // cancelled, not unreadable
          // A damaged file: every block of the strip that can be read is
          // shown; the others are hatched once the overview is complete.
          // The damage list is one for all workers; only the opening's own
          // thread hears the progress.
          const std::lock_guard<std::mutex> lock(damageLock);
          if (!ReadStripByBlocks(*file, first, rows, strip.data(), worker == 0 ? forward : keepGoing))
            return false;
        }
        const int dy0 = Nearest(first * so), dy1 = Nearest((first + rows) * so);
        if (words) {
          histograms[size_t(worker)].AddStrip(reinterpret_cast<const uint16_t*>(strip.data()),
                                              imgW_, first, rows, used);
          ScaleBlitSamples(strip.data(), imgW_, stripRows, size_t(used) * displayBytes_, imgW_,
                           rows, raw.data(), ovW_, ovH_, 0, dy0, ovW_, dy1);
        } else {
          ScaleBlitBands(strip.data(), imgW_, stripRows, used, imgW_, rows, overview_.data(), ovW_,
                         ovH_, 0, dy0, ovW_, dy1);
        }
        return true;
      },
      forward);
  if (whole && words) SetStretchTables(SumStretchCounts(histograms), used);
}

bool ImageRenderer::ReadStripByBlocks(RasterFile& source, int first, int rows, uint8_t* strip,
                                      const std::function<bool(double)>& tell) {
  // The strip's own failure says why when no block does.
  if (damageReason_.empty()) damageReason_ = CPLGetLastErrorMsg();
  if (damageReason_.empty()) damageReason_ = "读取失败";
  // The file's blocks, so that one bad block costs no good neighbour.
  int blockW = 256, blockH = 256;
  if (GDALDatasetH dataset = GDALOpenEx(source.Path().c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY,
                                        nullptr, nullptr, nullptr)) {
    if (GDALGetRasterCount(dataset) > 0)
      GDALGetBlockSize(GDALGetRasterBand(dataset, 1), &blockW, &blockH);
    GDALClose(dataset);
  }
  blockW = std::clamp(blockW, 1, imgW_);
  blockH = std::clamp(blockH, 1, imgH_);
  const size_t pixelBytes = size_t(ShownBands()) * displayBytes_;
  // Blocks count from the top row; these rows count from the bottom.
  for (int y1 = first + rows; y1 > first;) {
    const int fromTop = imgH_ - y1;
    const int y0 = std::max(first, imgH_ - (fromTop / blockH + 1) * blockH);
    for (int x0 = 0; x0 < imgW_; x0 += blockW) {
      const int x1 = std::min(imgW_, x0 + blockW);
      uint8_t* at = strip + (size_t(y0 - first) * imgW_ + x0) * pixelBytes;
      CPLErrorReset();
      if (ReadDisplayBands(source, x0, y0, x1, y1, at, imgW_, rows - (y0 - first), x1 - x0,
                           y1 - y0, nullptr) != 0) {
        // Strips finish in any order, and rows count from the bottom: the
        // reason told is the one of the block that comes first in the file's
        // own order (from the top, left to right), the first one missing.
        const int64_t place = int64_t(fromTop) * imgW_ + x0;
        const char* said = CPLGetLastErrorMsg();
        if (said && *said && place < damageReasonPlace_) {
          damageReason_ = said;
          damageReasonPlace_ = place;
        }
        for (int y = y0; y < y1; ++y)
          std::memset(strip + (size_t(y - first) * imgW_ + x0) * pixelBytes, 0,
                      size_t(x1 - x0) * pixelBytes);
        if (!damage_.empty() && damage_.back().y0 == y0 && damage_.back().x1 == x0)
          damage_.back().x1 = x1;  // a run of bad blocks is one rectangle
        else
          damage_.push_back({x0, y0, x1, y1});
      }
      if (!tell(double(first) / imgH_)) return false;
    }
    y1 = y0;
  }
  return true;
}

void ImageRenderer::HatchDamage() {
  if (damage_.empty() || overview_.empty()) return;
  const double so = ovScale_;
  for (const Rect& r : damage_) {
    // At least one overview pixel, however small the block is there.
    const int ox0 = std::min(ovW_ - 1, int(std::floor(r.x0 * so)));
    const int ox1 = std::max(ox0 + 1, std::min(ovW_, int(std::ceil(r.x1 * so))));
    const int oy0 = std::min(ovH_ - 1, int(std::floor(r.y0 * so)));
    const int oy1 = std::max(oy0 + 1, std::min(ovH_, int(std::ceil(r.y1 * so))));
    for (int y = oy0; y < oy1; ++y) {
      uint8_t* px = overview_.data() + (size_t(y) * ovW_ + ox0) * 3;
      for (int x = ox0; x < ox1; ++x, px += 3)
        std::memcpy(px, kDamageHatch[((x + y) / 4) % 2], 3);
    }
  }
}

void ImageRenderer::SetStretchTables(const std::vector<double>& counts, int bands) {
  // Bands past the third are never shown; their tables stay zero.
  stretchTable_ = StretchTablesFromCounts(counts, bandCount_, bands);
}

void ImageRenderer::Render() {
  if (!dib_ || W_ < 1 || H_ < 1) return;
  std::memset(dib_, kBackground, size_t(W_) * H_ * 3);
  bool fromBuffer = !overviewOnly_ && ready_.load();
  if (fromBuffer) {
    std::lock_guard<std::mutex> lock(g_DisplayBufferMutex);
    fromBuffer = !displayBuffer_.empty() && displayW_ == W_ && displayH_ == H_;
    if (fromBuffer) {
      // The buffer holds the view at (W, H); the drag shifts the window on
      // it. Rounded to the nearest pixel so that a frame at rest lands
      // exactly where the overview frame does.
      const int bw = 3 * W_, bh = 3 * H_;
      const int col0 = int(std::floor(W_ - dx_ + 0.5));
      const int row0 = int(std::floor(H_ - dy_ + 0.5));
      const int c0 = std::max(0, col0), c1 = std::min(bw, col0 + W_);
      for (int k = 0; k < H_ && c1 > c0; ++k) {
        const int r = row0 + k;
        if (r < 0 || r >= bh) continue;
        std::memcpy(dib_ + (size_t(k) * W_ + (c0 - col0)) * 3,
                    displayBuffer_.data() + (size_t(r) * bw + c0) * 3, size_t(c1 - c0) * 3);
      }
    }
  }
  if (!fromBuffer && !overview_.empty())
    ScaleBlitRgb(overview_.data(), ovW_, ovH_, 0, 0, ovW_, ovH_, dib_, W_, H_, x_, y_, x_ + w_,
                 y_ + h_);
  if (view_) view_->Invalidate();
}

void ImageRenderer::OnLButtonDown(ScreenPoint p) {
  if (!view_) return;
  view_->CaptureMouse();
  if (view_->WindowScreenRect().Contains(p)) {
    dragging_ = true;
    overviewOnly_ = false;
    dragStart_ = p;
  }
}

void ImageRenderer::OnMouseMove(ScreenPoint p) {
  if (!dragging_) return;
  dx_ = p.x - dragStart_.x;
  dy_ = dragStart_.y - p.y;
  {
    std::lock_guard<std::mutex> lock(placementMutex_);
    x_ = Nearest(offX_ + dx_);
    y_ = Nearest(offY_ + dy_);
    w_ = Nearest(imgW_ * s_);
    h_ = Nearest(imgH_ * s_);
  }
  Render();
}

void ImageRenderer::OnLButtonUp(ScreenPoint) {
  {
    std::lock_guard<std::mutex> lock(placementMutex_);
    offX_ += dx_;
    offY_ += dy_;
  }
  dx_ = dy_ = 0;
  dragging_ = false;
  if (view_) view_->ReleaseMouse();
  RequestReread();
}

void ImageRenderer::OnMouseWheel(int delta, ScreenPoint p) {
  if (!view_) return;
  delta = std::clamp(delta, -120, 120);
  const ScreenRect rect = view_->WindowScreenRect();
  if (rect.Contains(p) && ((delta < 0 && s_ > 0.01) || (delta > 0 && s_ < 8))) {
    const double step = delta / 960.0 * s_;
    const double ax = (p.x - rect.left - offX_) * step / s_;
    const double ay = (rect.bottom - p.y - offY_) * step / s_;
    const int x2 = Nearest(offX_ - ax), y2 = Nearest(offY_ - ay);
    const int w2 = Nearest((s_ + step) * imgW_), h2 = Nearest((s_ + step) * imgH_);
    if (w2 > 0 && h2 > 0) {
      {
        // Preview: the buffer's picture stretched in place to the new
        // placement while the re-read catches up.
        std::lock_guard<std::mutex> lock(g_DisplayBufferMutex);
        if (!displayBuffer_.empty() && displayW_ == W_ && displayH_ == H_)
          ScaleBlitRgb(displayBuffer_.data(), 3 * W_, 3 * H_, W_ + x_, H_ + y_, W_ + x_ + w_,
                       H_ + y_ + h_, displayBuffer_.data(), 3 * W_, 3 * H_, W_ + x2, H_ + y2,
                       W_ + x2 + w2, H_ + y2 + h2);
      }
      {
        std::lock_guard<std::mutex> lock(placementMutex_);
        x_ = x2;
        y_ = y2;
        w_ = w2;
        h_ = h2;
      }
      Render();
      std::lock_guard<std::mutex> lock(placementMutex_);
      s_ += step;
      offX_ -= ax;
      offY_ -= ay;
    }
  }
  overviewOnly_ = std::fabs(s_ - requestedScale_) > 1e-5;
  requestedScale_ = s_;
  RequestReread();
}

bool ImageRenderer::ImagePixelAt(int px, int py, int& column, int& row) const {
  if (!raster_ || s_ <= 0 || px < 0 || px >= W_ || py < 0 || py >= H_) return false;
  // floor, not truncation: the half pixel left of or above the image is
  // outside it.
  column = int(std::floor((px - x_) / s_));
  row = int(std::floor((py - (H_ - y_ - h_)) / s_));
  return column >= 0 && column < imgW_ && row >= 0 && row < imgH_;
}

bool ImageRenderer::ReadFileSamples(int px, int py, std::vector<uint8_t>& raw) {
  int c = 0, t = 0;
  if (!ImagePixelAt(px, py, c, t)) return false;
  const int fromBottom = imgH_ - 1 - t;
  raw.assign(size_t(bandCount_) * bytesPerSample_, 0);
  if (SampleReadTestHook()) SampleReadTestHook()();
  std::unique_lock<std::mutex> lock(rasterMutex_, std::try_to_lock);
  // Polled rather than a timed lock: a re-read holds the file for the
  // length of one read, and the caller must not hang behind it.
  for (auto waited = std::chrono::milliseconds(0); !lock.owns_lock() && waited < kPixelQueryWait;
       waited += std::chrono::milliseconds(2)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    lock.try_lock();
  }
  if (!lock.owns_lock() || !raster_) return false;
  const int band = bandCount_ == 1 ? 0 : -1;
  return raster_->ReadWindow(c, fromBottom, c + 1, fromBottom + 1, raw.data(), 1, 1, bandCount_,
                             1, 1, band) == 0;
}

bool ImageRenderer::ReadPixel(int column, int fromBottom, std::vector<uint8_t>& raw) {
  raw.assign(size_t(bandCount_) * bytesPerSample_, 0);
  if (SampleReadTestHook()) SampleReadTestHook()();
  std::lock_guard<std::mutex> lock(rasterMutex_);
  if (!raster_) return false;
  const int band = bandCount_ == 1 ? 0 : -1;
  return raster_->ReadWindow(column, fromBottom, column + 1, fromBottom + 1, raw.data(), 1, 1,
                             bandCount_, 1, 1, band) == 0;
}

bool ImageRenderer::CachedSampleText(int column, int row, std::string& text) {
  std::lock_guard<std::mutex> lock(sampleMutex_);
  if (!sampleCached_ || cachedColumn_ != column || cachedRow_ != row) return false;
  text = cachedText_;
  return true;
}

void ImageRenderer::RequestSampleText(int column, int row, uint64_t tag) {
  {
    std::lock_guard<std::mutex> lock(sampleMutex_);
    if (sampleStop_) return;
    samplePending_ = true;
    sampleColumn_ = column;
    sampleRow_ = row;
    sampleTag_ = tag;
    if (!sampler_.joinable()) sampler_ = std::thread([this] { SampleLoop(); });
  }
  sampleCv_.notify_one();
}

void ImageRenderer::SetSampleTextCallback(std::function<void(uint64_t, const std::string&)> callback) {
  std::lock_guard<std::mutex> lock(sampleMutex_);
  onSampleText_ = std::move(callback);
}

std::function<void()>& ImageRenderer::SampleReadTestHook() {
  static std::function<void()> hook;
  return hook;
}

std::function<void(double)>& ImageRenderer::OpeningProgressTestHook() {
  static std::function<void(double)> hook;
  return hook;
}

void ImageRenderer::SampleLoop() {
  std::unique_lock<std::mutex> lock(sampleMutex_);
  for (;;) {
    sampleCv_.wait(lock, [this] { return sampleStop_ || samplePending_; });
    if (sampleStop_) break;
    samplePending_ = false;
    const int column = sampleColumn_, row = sampleRow_;
    const uint64_t tag = sampleTag_;
    lock.unlock();
    // The read waits behind a re-read's for the file; only this thread
    // waits, and a later request simply follows it.
    std::string text;
    try {
      std::vector<uint8_t> raw;
      if (ReadPixel(column, imgH_ - 1 - row, raw)) text = SampleText(raw);
    } catch (...) {
      text.clear();  // no value to show; the readout stays as it was
    }
    lock.lock();
    if (sampleStop_) break;
    if (!text.empty()) {
      sampleCached_ = true;
      cachedColumn_ = column;
      cachedRow_ = row;
      cachedText_ = text;
    }
    if (onSampleText_) {
      std::function<void(uint64_t, const std::string&)> told = onSampleText_;
      lock.unlock();
      told(tag, text);
      lock.lock();
    }
  }
}

bool ImageRenderer::GetPixelValues(int px, int py, std::vector<int64_t>& values,
                                   bool fileValues) {
  if (px < 0 || px >= W_ || py < 0 || py >= H_) return false;
  if (fileValues) {
    std::vector<uint8_t> raw;
    if (!ReadFileSamples(px, py, raw)) return false;
    values.assign(size_t(bandCount_), 0);
    for (int b = 0; b < bandCount_; ++b)
      values[size_t(b)] = SampleAsInteger(raw.data() + size_t(b) * bytesPerSample_,
                                          raster_->DataType());
    if (values.size() < 3) {
      values.resize(3);
      values[1] = values[2] = values[0];
    }
    return true;
  }
  if (!dib_) return false;
  const uint8_t* p = dib_ + (size_t(H_ - 1 - py) * W_ + px) * 3;
  values = {p[2], p[1], p[0]};
  return true;
}

std::string ImageRenderer::ValueText(int px, int py, bool fileValues) {
  if (px < 0 || px >= W_ || py < 0 || py >= H_) return {};
  if (!ReadoutReadsFile(fileValues)) {
    std::vector<int64_t> shown;
    if (!GetPixelValues(px, py, shown, false)) return {};
    char text[160];
    std::snprintf(text, sizeof text, "R=%lld G=%lld B=%lld", (long long)shown[0],
                  (long long)shown[1], (long long)shown[2]);
    return text;
  }
  std::vector<uint8_t> raw;
  if (!ReadFileSamples(px, py, raw)) return {};
  return SampleText(raw);
}

std::string ImageRenderer::SampleText(const std::vector<uint8_t>& raw) const {
  if (!raster_ || raw.size() < size_t(bandCount_) * bytesPerSample_ || raw.empty()) return {};
  char text[160];
  if (Paletted()) {
    // A palette image shows its index and the table's colour either way.
    uint16_t index = raw[0];
    if (bytesPerSample_ == 2) std::memcpy(&index, raw.data(), 2);
    const uint8_t* c = &palette_[size_t(index) * 3];
    std::snprintf(text, sizeof text, "索引=%u R=%u G=%u B=%u", unsigned(index), unsigned(c[0]),
                  unsigned(c[1]), unsigned(c[2]));
    return text;
  }
  // Integers as they are; floating point with the digits its type holds,
  // so -317.28 reads -317.28 and not -317.
  const int type = raster_->DataType();
  auto sample = [&](int b) {
    const uint8_t* p = raw.data() + size_t(std::min(b, bandCount_ - 1)) * bytesPerSample_;
    char out[48];
    if (type == GDT_Float32) {
      float v;
      std::memcpy(&v, p, 4);
      std::snprintf(out, sizeof out, "%.7g", double(v));
    } else if (type == GDT_Float64) {
      double v;
      std::memcpy(&v, p, 8);
      std::snprintf(out, sizeof out, "%.15g", v);
    } else {
      std::snprintf(out, sizeof out, "%lld", (long long)SampleAsInteger(p, type));
    }
    return std::string(out);
  };
  // Fewer than three bands: the first stands for all three.
  const int g = bandCount_ >= 3 ? 1 : 0, b = bandCount_ >= 3 ? 2 : 0;
  return "R=" + sample(0) + " G=" + sample(g) + " B=" + sample(b);
}

void ImageRenderer::SetViewSize(int W, int H, uint8_t* dib) {
  std::lock_guard<std::mutex> lock(placementMutex_);
  W_ = W;
  H_ = H;
  dib_ = dib;
}

void ImageRenderer::ClearReady() {
  std::lock_guard<std::mutex> lock(placementMutex_);
  ++requestGeneration_;
  ready_ = false;
}

ImageRenderer::Placement ImageRenderer::TakePlacement() {
  std::lock_guard<std::mutex> lock(placementMutex_);
  // The drawn rectangle follows from the committed scale and offsets, not
  // from a drag in progress.
  return Placement{s_, W_, H_, Nearest(offX_), Nearest(offY_), Nearest(imgW_ * s_),
                   Nearest(imgH_ * s_), requestGeneration_};
}

void ImageRenderer::RequestReread() {
  ClearReady();
  {
    std::lock_guard<std::mutex> lock(slotMutex_);
    if (stop_) return;
    pending_ = true;
    abortRead_ = true;  // whatever is being read now is already stale
    if (!worker_.joinable()) worker_ = std::thread([this] { WorkerLoop(); });
  }
  slotCv_.notify_one();
}

void ImageRenderer::SetRereadDoneCallback(std::function<void()> callback) {
  std::lock_guard<std::mutex> lock(slotMutex_);
  onRereadDone_ = std::move(callback);
}

void ImageRenderer::SetRereadFailedCallback(std::function<void(const std::string&)> callback) {
  std::lock_guard<std::mutex> lock(slotMutex_);
  onRereadFailed_ = std::move(callback);
}

std::function<void()>& ImageRenderer::RereadTestHook() {
  static std::function<void()> hook;
  return hook;
}

void ImageRenderer::AskWorkerToStop() {
  {
    std::lock_guard<std::mutex> lock(slotMutex_);
    stop_ = true;
    abortRead_ = true;
    onRereadDone_ = nullptr;
    onRereadFailed_ = nullptr;
  }
  slotCv_.notify_all();
  {
    std::lock_guard<std::mutex> lock(sampleMutex_);
    sampleStop_ = true;
    onSampleText_ = nullptr;
  }
  sampleCv_.notify_all();
}

bool ImageRenderer::WaitForRereads(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(slotMutex_);
  return slotCv_.wait_for(lock, timeout, [this] { return stop_ || (!pending_ && !running_); });
}

void ImageRenderer::WorkerLoop() {
  std::unique_lock<std::mutex> lock(slotMutex_);
  for (;;) {
    slotCv_.wait(lock, [this] { return stop_ || pending_; });
    if (stop_) break;
    pending_ = false;
    running_ = true;
    abortRead_ = false;
    lock.unlock();
    // A fault in a re-read (memory for the buffers, above all) ends that
    // re-read, not the program: the view keeps what it shows and is told.
    bool current = false;
    std::string failure;
    try {
      if (RereadTestHook()) RereadTestHook()();
      current = Reread(&abortRead_) == 1;
    } catch (...) {
      failure = CurrentExceptionText();
    }
    lock.lock();
    running_ = false;
    if (!failure.empty() && !stop_ && onRereadFailed_) {
      std::function<void(const std::string&)> failed = onRereadFailed_;
      lock.unlock();
      failed(failure);
      lock.lock();
    }
    if (current && !pending_ && !stop_ && onRereadDone_) {
      std::function<void()> done = onRereadDone_;
      lock.unlock();
      done();
      lock.lock();
    }
    slotCv_.notify_all();  // for WaitForRereads
  }
  running_ = false;
  slotCv_.notify_all();
}

// Result 1 when the display buffer got a result that is still current.
int ImageRenderer::Reread(const std::atomic<bool>* abort) {
  std::lock_guard<std::mutex> rereadLock(g_RereadMutex);
  const Placement p = TakePlacement();
  if (p.W < 1 || p.H < 1) return 0;
  const int bw = 3 * p.W, bh = 3 * p.H;
  workerBuffer_.assign(size_t(bw) * bh * 3, kBackground);

  bool aborted = false, unreadable = false;
  if (ovScale_ < 1 && ovScale_ < p.s && raster_) {
    // The overview is coarser than the screen: read the part of the file
    // that the 3W x 3H buffer shows. The window is cut at whole source
    // pixels and placed where those pixels fall at scale s, so the picture
    // stays registered with the overview frames and the pixel readout.
    int sx0 = 0, sy0 = 0, sx1 = imgW_, sy1 = imgH_;
    int destX = p.W + p.x, destY = p.H + p.y, ow = p.w, oh = p.h;
    if (p.w > bw || p.h > bh) {
      sx0 = std::max(0, int(std::floor(-(p.W + p.x) / p.s)));
      sx1 = std::min(imgW_, int(std::ceil((bw - (p.W + p.x)) / p.s)));
      sy0 = std::max(0, int(std::floor(-(p.H + p.y) / p.s)));
      sy1 = std::min(imgH_, int(std::ceil((bh - (p.H + p.y)) / p.s)));
      destX = p.W + p.x + Nearest(sx0 * p.s);
      destY = p.H + p.y + Nearest(sy0 * p.s);
      ow = Nearest(sx1 * p.s) - Nearest(sx0 * p.s);
      oh = Nearest(sy1 * p.s) - Nearest(sy0 * p.s);
    }
    const int used = ShownBands();
    int rc = 1;
    std::vector<uint8_t> raw;
    if (ow > 0 && oh > 0 && sx1 > sx0 && sy1 > sy0 && int64_t(ow) * oh <= int64_t(2) * bw * bh) {
      raw.assign(size_t(ow) * oh * used * displayBytes_, kBackground);
      std::lock_guard<std::mutex> lock(rasterMutex_);
      if (raster_)
        rc = ReadDisplayBands(*raster_, sx0, sy0, sx1, sy1, raw.data(), ow, oh, ow, oh, abort);
    }
    aborted = abort && abort->load();
    if (rc == 0 && !aborted)
      ScaleBlitBands(raw.data(), ow, oh, used, ow, oh, workerBuffer_.data(), bw, bh, destX, destY,
                     destX + ow, destY + oh);
    unreadable = rc != 0 && !aborted;
    // A region the file would not give keeps the overview's picture of it,
    // coarse but there, rather than turning into background.
    if (unreadable && !overview_.empty())
      ScaleBlitRgb(overview_.data(), ovW_, ovH_, 0, 0, ovW_, ovH_, workerBuffer_.data(), bw, bh,
                   p.W + p.x, p.H + p.y, p.W + p.x + p.w, p.H + p.y + p.h);
  } else if (!overview_.empty()) {
    ScaleBlitRgb(overview_.data(), ovW_, ovH_, 0, 0, ovW_, ovH_, workerBuffer_.data(), bw, bh,
                 p.W + p.x, p.H + p.y, p.W + p.x + p.w, p.H + p.y + p.h);
  }
  if (aborted) return 0;  // a newer request or the engine's end overtook it

  {
    std::lock_guard<std::mutex> lock(g_DisplayBufferMutex);
    displayBuffer_.swap(workerBuffer_);
    displayW_ = p.W;
    displayH_ = p.H;
  }
  std::lock_guard<std::mutex> lock(placementMutex_);
  if (p.generation != requestGeneration_) return 0;
  regionUnreadable_ = unreadable;
  ready_ = true;
  return 1;
}

}  // namespace pw
