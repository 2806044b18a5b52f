// The display engine of the viewer: shows one large raster in a window of
// W x H pixels, pans by dragging and zooms with the wheel without reading
// the whole file for every change.
//
// It keeps an overview of the whole image (longer side at most 10000
// pixels, made once at opening) and a display buffer of 3W x 3H pixels
// around the visible part, rebuilt at the current scale by one worker thread
// per engine after every pan or zoom. Every frame is drawn into the view's
// 24-bit bottom-up BGR bitmap, which the view owns and paints.
//
// Threads: everything but the re-read and the readout's sample reads runs
// on the user-interface thread. The worker takes the placement under a
// lock, reads the raster under a lock the sample reader shares, and swaps its
// result in under the display-buffer lock; lock order is g_RereadMutex,
// then g_DisplayBufferMutex, then the placement lock.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <cstdlib>
#include <memory>
#include <new>
#include <mutex>
#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "raster/PictureBuffer.h"
#include "raster/RasterFile.h"

namespace pw {

struct ScreenPoint {
  int x = 0, y = 0;
};

// A window's rectangle in screen coordinates; right and bottom exclusive.
struct ScreenRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool Contains(ScreenPoint p) const {
    return p.x >= left && p.x < right && p.y >= top && p.y < bottom;
  }
};

// What the engine needs of the view window. Called on the UI thread only.
class RendererHost {
 public:
  virtual ~RendererHost() = default;
  virtual ScreenRect WindowScreenRect() const = 0;
  // Repaint without erasing the background.
  virtual void Invalidate() = 0;
  virtual void CaptureMouse() = 0;
  virtual void ReleaseMouse() = 0;
};

// Re-reads run one after another; the display buffer is swapped, drawn and
// previewed under the second. Whoever holds both takes g_RereadMutex first.
extern std::mutex g_RereadMutex;
extern std::mutex g_DisplayBufferMutex;

constexpr uint8_t kBackground = 240;
// The two colours (blue, green, red) of the diagonal hatch that marks
// the blocks of a damaged file that could not be read: a pattern, where a
// flat colour could be taken for the image's own.
constexpr uint8_t kDamageHatch[2][3] = {{255, 0, 255}, {40, 40, 40}};

constexpr int kOverviewLimit = 10000;

// trunc(v + 0.5), the rounding the placement uses throughout.
inline int Nearest(double v) { return int(v + 0.5); }

// Resampling copy between 24-bit buffers (bottom-up, rows of width x 3
// bytes): the source rectangle (sx0, sy0)-(sx1, sy1) of a w0 x h0 buffer
// onto the destination rectangle of a dw x dh buffer. When both are the same
// buffer the destination is first filled with the background. -1 for a
// missing buffer or an inverted rectangle.
int ScaleBlitRgb(const uint8_t* src, int w0, int h0, int sx0, int sy0, int sx1, int sy1,
                 uint8_t* dst, int dw, int dh, int dx0, int dy0, int dx1, int dy1);

// The same nearest-pixel geometry for raw samples of `pixelBytes` bytes: the
// region (0, 0)-(sw, sh) of a w0 x h0 source onto the destination rectangle
// of a dw x dh buffer of the same pixel size. -1 for a missing buffer or an
// inverted rectangle.
int ScaleBlitSamples(const uint8_t* src, int w0, int h0, size_t pixelBytes, int sw, int sh,
                     uint8_t* dst, int dw, int dh, int dx0, int dy0, int dx1, int dy1);

// How far the opening has come, 0 to 1; called on the opening thread, at
// most every few tens of milliseconds, so the caller may paint meanwhile.
using OpenProgress = std::function<void(double fraction)>;

class ImageRenderer {
 public:
  // Opens the raster and builds the overview in one read of the file: from
  // the file's own overviews when it stores them, otherwise from its full
  // resolution, counting the 16-bit stretch's histogram on the way. Touches
  // neither the view nor the bitmap, so it may run on a thread of its own.
  // `cancel`, when it becomes true, cuts the reading short: the engine is
  // then incomplete and must be thrown away (Cancelled() tells).
  ImageRenderer(RendererHost* view, const std::string& path, uint8_t* dib, int W, int H,
                const OpenProgress& progress = {}, const std::atomic<bool>* cancel = nullptr);
  ~ImageRenderer();
  ImageRenderer(const ImageRenderer&) = delete;
  ImageRenderer& operator=(const ImageRenderer&) = delete;

  // Stops the worker (aborting a read in progress), waits for it, and frees
  // the raster and every buffer. Afterwards the engine draws background.
  void Release();

  void Render();
  void OnLButtonDown(ScreenPoint p);
  void OnMouseMove(ScreenPoint p);
  void OnLButtonUp(ScreenPoint p);
  void OnMouseWheel(int delta, ScreenPoint p);

  // Value under the view point (px, py), y counted from the top: the
  // displayed red, green, blue, or the file's own samples (one per band,
  // signed where the file's type is; at least three values).
  bool GetPixelValues(int px, int py, std::vector<int64_t>& values, bool fileValues);

  // The readout's value text for the view point (y from the top): "R=.. G=..
  // B=.." of the displayed colour, or of the file's own samples (floating
  // point ones with their decimals). A palette image shows the file's index
  // and its table colour, "索引=.. R=.. G=.. B=..", either way. Empty when
  // the point shows no image pixel.
  std::string ValueText(int px, int py, bool fileValues);

  // The image pixel under the view point (px, py), y counted from the top:
  // its column and its row from the top. False outside the image. UI thread.
  bool ImagePixelAt(int px, int py, int& column, int& row) const;
  // The readout of a pixel needs the file's own samples: the file's values
  // were asked for, or a palette image shows its index.
  bool ReadoutReadsFile(bool fileValues) const { return fileValues || Paletted(); }
  // The readout's text of the file's samples at image pixel (column, row
  // from the top), as ValueText gives it, without reading: the last pixel
  // read is kept. False when it is not that one.
  bool CachedSampleText(int column, int row, std::string& text);
  // Asks the engine's sample reader for that text; the answer comes on the
  // reader's thread through the sample callback, with `tag`. A request that
  // arrives while one is read replaces the one waiting, so the reader
  // follows the mouse without a queue. Never waits for a read.
  void RequestSampleText(int column, int row, uint64_t tag);
  // Called on the reader's thread with a request's tag and its text (empty
  // when the file would not give the pixel).
  void SetSampleTextCallback(std::function<void(uint64_t, const std::string&)> callback);
  // Tests: called before every read of one pixel's samples, on whichever
  // thread reads (it may hold it).
  static std::function<void()>& SampleReadTestHook();
  // Tests: hears every fraction an opening's reading reports, on the
  // opening's thread, before the gauge's 30 ms spacing drops any.
  static std::function<void(double)>& OpeningProgressTestHook();

  // Band-to-colour copy of a w0 x h0 buffer of `samplesPerPixel` samples at
  // the engine's sample size: its region (0, 0)-(sw, sh) onto the
  // destination rectangle of a 24-bit dw x dh buffer.
  int ScaleBlitBands(const uint8_t* src, int w0, int h0, int samplesPerPixel, int sw, int sh,
                     uint8_t* dst, int dw, int dh, int dx0, int dy0, int dx1, int dy1);

  // Asks the worker for a re-read at the current placement. Requests that
  // arrive while one runs replace each other: only the latest is done, and
  // a file read made stale by a newer request is abandoned.
  void RequestReread();

  // Called on the worker thread after a re-read has put a current result
  // into the display buffer; the view posts a repaint to its own thread.
  void SetRereadDoneCallback(std::function<void()> callback);

  // Called on the worker thread when a re-read failed outright (an
  // exception, such as memory running out), with the reason; what the view
  // shows stays.
  void SetRereadFailedCallback(std::function<void(const std::string&)> callback);

  // Tells the worker to stop at its next check and forgets both callbacks,
  // without waiting: Release, on any thread, then waits for it.
  void AskWorkerToStop();

  // Tests: called by the worker at the start of every re-read (it may hold
  // the worker, or throw as a failing re-read would). Set while no engine
  // runs a worker.
  static std::function<void()>& RereadTestHook();

  // New view size and bitmap (the view recreates the bitmap on every size
  // change).
  void SetViewSize(int W, int H, uint8_t* dib);
  void SetOverviewOnly(bool on) { overviewOnly_ = on; }
  // Fits the image anew into the current view size: for an engine built
  // while the window still changed its size.
  void FitToView();
  // Marks the display buffer as out of date (a re-read is about to follow).
  void ClearReady();

  // Waits until no re-read is pending or running; for tests and shutdown.
  bool WaitForRereads(std::chrono::milliseconds timeout);

  bool IsOpen() const { return raster_ != nullptr; }
  // Why the file did not open, when the reader said ("不支持的像素类型：…",
  // or GDAL's reason when not one block of the image could be read); empty
  // when it did, or when the file is simply not a raster.
  const std::string& OpenError() const { return openError_; }
  // Some blocks of the image could not be read: the overview shows them
  // hatched (kDamageHatch), and DamageReason says why, in GDAL's words.
  bool Damaged() const { return !damage_.empty(); }
  const std::string& DamageReason() const { return damageReason_; }
  // The opening was cut short by its cancel flag.
  bool Cancelled() const { return cancelled_; }
  double Scale() const { return s_; }
  double OffX() const { return offX_; }
  double OffY() const { return offY_; }
  int X() const { return x_; }
  int Y() const { return y_; }
  int DrawnW() const { return w_; }
  int DrawnH() const { return h_; }
  int ViewW() const { return W_; }
  int ViewH() const { return H_; }
  int ImageWidth() const { return imgW_; }
  int ImageHeight() const { return imgH_; }
  int OverviewWidth() const { return ovW_; }
  int OverviewHeight() const { return ovH_; }
  double OverviewScale() const { return ovScale_; }
  // The overview was read through the file's own overviews (a reduced read
  // GDAL serves from them).
  bool OverviewFromFileOverviews() const { return overviewFromFile_; }
  int BandCount() const { return bandCount_; }
  // Band 1 is drawn through its colour table (palette indices).
  bool Paletted() const { return !palette_.empty(); }
  int DataType() const { return raster_ ? raster_->DataType() : 0; }
  bool Ready() const { return ready_.load(); }
  // The last re-read could not read its region from the file: the display
  // buffer holds the overview's picture of it instead.
  bool RegionUnreadable() const { return regionUnreadable_.load(); }
  bool OverviewOnly() const { return overviewOnly_; }
  bool Dragging() const { return dragging_; }
  const PictureBytes& Overview() const { return overview_; }

 private:

  // What one re-read works from, taken together under the placement lock.
  struct Placement {
    double s;
    int W, H, x, y, w, h;
    uint64_t generation;
  };

  void Reset();
  void FitToWindow();
  // `tell` hears how far it has come and answers whether to go on.
  void BuildOverview(const std::function<bool(double)>& tell, const std::atomic<bool>* cancel);
  // The overview read whole at its own size, in pieces side by side, each
  // worker on a handle of its own; false when a read fails.
  bool ReadReducedOverview(RasterFile& source, const std::function<bool(double)>& tell);
  // One pass over full-resolution strips, several strips side by side.
  void ReadOverviewStrips(RasterFile& source, PictureBytes& raw,
                          const std::function<bool(double)>& tell);
  // A strip whose read failed, again block by block: what can be read is
  // kept, what cannot is noted in damage_. False when the opening was
  // cancelled meanwhile.
  bool ReadStripByBlocks(RasterFile& source, int first, int rows, uint8_t* strip,
                         const std::function<bool(double)>& tell);
  // Hatches the overview over every block that could not be read.
  void HatchDamage();
  // The formatted readout of the file's samples of one pixel.
  std::string SampleText(const std::vector<uint8_t>& raw) const;
  // Reads the samples of image pixel (column, row from the bottom) under
  // the file lock, waiting for it.
  bool ReadPixel(int column, int fromBottom, std::vector<uint8_t>& raw);
  void SampleLoop();
  // The raw overview samples to colour, pixel for pixel; false when the
  // bands have no colour mapping.
  bool MapOverview(const PictureBytes& raw);
  bool CanMapOverview() const;
  // `count` raw samples' pixels from `src` to colour, into the overview from
  // pixel `first` on (the overview is sized already).
  void MapOverviewPixels(const uint8_t* src, size_t first, size_t count);
  // Reads for a worker of an opening: worker 0 reads through the opening's
  // own handle, each other worker opens one of its own on first use.
  RasterFile* WorkerFile(RasterFile& source, std::vector<std::unique_ptr<RasterFile>>& files,
                         int worker);
  // The stretch tables of the displayed bands from their histograms.
  void SetStretchTables(const std::vector<double>& counts, int bands);
  // One source pixel at the display's sample size to blue, green, red.
  void PixelToBgr(const uint8_t* px, bool rgb, uint8_t* out) const;
  // How many bands the display reads: the first alone for palette indices
  // (of an animated GIF's frames, the first), else bands 1..3 at most.
  int ShownBands() const { return palette_.empty() ? std::min(bandCount_, 3) : 1; }
  // 16-bit samples shown through the stretch tables.
  bool Stretched() const { return displayBytes_ == 2 && palette_.empty(); }
  // The file's own samples, every band, of the image pixel under the view
  // point; false outside the image or when the file is busy.
  bool ReadFileSamples(int px, int py, std::vector<uint8_t>& raw);
  Placement TakePlacement();
  // Bands 1..3 at most (all the colour mapping uses) into a buffer of that
  // many samples per pixel.
  int ReadDisplayBands(RasterFile& file, int x0, int y0, int x1, int y1, uint8_t* buf, int bufW,
                       int bufH, int outW, int outH, const std::atomic<bool>* cancel,
                       const ReadProgress* progress = nullptr);
  int Reread(const std::atomic<bool>* abort);
  void WorkerLoop();
  void StopWorker();

  bool dragging_ = false;
  bool overviewOnly_ = true;
  int W_ = 0, H_ = 0;
  uint8_t* dib_ = nullptr;
  std::vector<uint8_t> displayBuffer_;  // under g_DisplayBufferMutex
  int displayW_ = 0, displayH_ = 0;     // the view size it was made for
  std::vector<uint8_t> workerBuffer_;   // under g_RereadMutex
  std::atomic<bool> ready_{false};
  std::atomic<bool> regionUnreadable_{false};
  std::unique_ptr<RasterFile> raster_;
  double s_ = 1.0;
  double requestedScale_ = 1.0;
  double ovScale_ = 1.0;
  PictureBytes overview_;
  bool overviewFromFile_ = false;
  bool cancelled_ = false;
  std::string openError_;
  // Image rectangles (x0, y0, x1, y1; rows from the bottom) that could not
  // be read when the overview was built, and GDAL's reason for the first.
  struct Rect {
    int x0, y0, x1, y1;
  };
  std::vector<Rect> damage_;
  std::string damageReason_;
  // Where the block lies whose failure damageReason_ tells: its top row
  // from the image's top times the image's width, plus its left column.
  int64_t damageReasonPlace_ = INT64_MAX;
  std::vector<uint8_t> stretchTable_;
  // Palette images: red, green, blue of every possible index (those past
  // the table black, transparent ones the background); empty otherwise.
  std::vector<uint8_t> palette_;
  RendererHost* view_ = nullptr;
  double dx_ = 0, dy_ = 0;
  double offX_ = 0, offY_ = 0;
  int imgW_ = 0, imgH_ = 0, ovW_ = 0, ovH_ = 0, bandCount_ = 0, bytesPerSample_ = 0;
  // Samples as the display reads them: the file's own 1- and 2-byte types;
  // wider integers and floating point as 4-byte floats, shown by a linear
  // stretch from each band's smallest to its largest value.
  int displayType_ = 0, displayBytes_ = 0;
  double bandLow_[3] = {0, 0, 0};
  double bandScale_[3] = {0, 0, 0};
  int x_ = 0, y_ = 0, w_ = 0, h_ = 0;
  ScreenPoint dragStart_;

  // The placement (s, offsets, view size) is written by the UI thread under
  // this lock and read together by the worker.
  std::mutex placementMutex_;
  uint64_t requestGeneration_ = 0;
  // Serialises raster access between the worker and the UI's pixel query.
  std::mutex rasterMutex_;

  // The worker and its one-request slot.
  std::mutex slotMutex_;
  std::condition_variable slotCv_;
  bool pending_ = false;
  bool running_ = false;
  bool stop_ = false;
  std::atomic<bool> abortRead_{false};
  std::function<void()> onRereadDone_;
  std::function<void(const std::string&)> onRereadFailed_;
  std::thread worker_;

  // The sample reader of the pixel readout and its one-request slot; the
  // last answer is kept for a pointer that comes back to the same pixel.
  std::mutex sampleMutex_;
  std::condition_variable sampleCv_;
  bool samplePending_ = false;
  bool sampleStop_ = false;
  int sampleColumn_ = 0, sampleRow_ = 0;
  uint64_t sampleTag_ = 0;
  bool sampleCached_ = false;
  int cachedColumn_ = 0, cachedRow_ = 0;
  std::string cachedText_;
  std::function<void(uint64_t, const std::string&)> onSampleText_;
  std::thread sampler_;
};

}  // namespace pw
