// One raster dataset opened through GDAL: read-only input for the viewer and
// the 8-bit conversion, or the 8-bit output of that conversion.
//
// Every row coordinate here counts from the bottom of the image and every
// buffer is bottom-up (its first row is the bottom row of the window), the
// layout of the 24-bit bitmaps the viewer paints.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class GDALDataset;

namespace pw {

class StagedOutput;

// GDAL short name of the driver for the path's extension, or nullptr. Only
// a copy of the extension is lower-cased: the caller's path is left alone.
const char* DriverNameFromExtension(std::string_view path);

// Bytes per sample of a GDAL data type code (1..7); 0 for any other type
// (complex, 64-bit integer, unknown codes).
int BytesPerSample(int dataType);

// "<path>.czb": the sidecar that caches the 16-bit stretch tables.
std::string StretchTablePath(const std::string& path);

// Size of one band's table in the sidecar and in memory.
constexpr int64_t kStretchTableSize = 65536;

// Told how far a long read has come (0 to 1); false stops the read, which
// then fails.
using ReadProgress = std::function<bool(double fraction)>;

class RasterFile {
 public:
  RasterFile();
  ~RasterFile();
  RasterFile(const RasterFile&) = delete;
  RasterFile& operator=(const RasterFile&) = delete;

  // Frees the table, closes the dataset, clears the path. An output that
  // was never committed is dropped (see DiscardOutput).
  void Close();

  // Opens read-only. With `stretch` set and 2-byte samples, builds (or reads
  // from the ".czb" sidecar) one 65536-entry table per band and maps every
  // read through it to one byte per sample. Building the tables reads the
  // whole image: `cancel` stops that pass and `progress` hears how far it
  // has come (only while a table is built). When no table can be built
  // (a read failed, the pass was stopped) the opening fails with
  // LastError() set, "已取消" for a stop, and no sidecar is written.
  bool Open(const std::string& path, const bool& stretch,
            const std::atomic<bool>* cancel = nullptr, const ReadProgress* progress = nullptr);

  // Creates an 8-bit output of the given size. It is written under a hidden
  // working name beside `path` and takes that name only in CommitOutput, so
  // a file already there survives a failed write. GeoTIFF (and BMP with 1 or
  // 3 bands) is written into the working file directly; any other format is
  // first checked to accept 8-bit data with this many bands, then written
  // into a temporary GeoTIFF that CommitOutput copies into the working file.
  // False with LastError() set when the format is unknown or cannot take
  // the image; nothing is created then.
  bool Create(const std::string& path, const int& width, const int& height, const int& bandCount);

  // Creates directly through the path's driver, only when that is "GTiff"
  // or "BMP".
  bool CreateDirect(const std::string& path, int dataType, int width, int height, int bandCount);

  // Finishes an output made by Create: flushes it (or copies the working
  // GeoTIFF to the target format), closes it and renames it, with the side
  // files GDAL wrote for it, over the target. False when any write failed;
  // the target is then as it was (unless only a side file could not be
  // placed, which LastError() says).
  // `cancel`, when it becomes true, stops the copy into a format written
  // only by copying; the commit then fails and leaves nothing behind.
  bool CommitOutput(const std::atomic<bool>* cancel = nullptr);

  // Writes the output's cached blocks to its file now, so that the commit
  // has little left to do; false when a write failed.
  bool FlushOutput();

  // The files an uncommitted output has written so far (its working file,
  // the temporary GeoTIFF of a copied format), for removal from another
  // thread when the writer cannot be waited for.
  std::vector<std::string> OutputFiles() const;

  // Gives band `band` of an output a colour table (red, green, blue, alpha
  // per entry, at most 256 entries) and marks it as palette indices. False
  // when the output refused it.
  bool SetBandPalette(int band, const std::vector<uint8_t>& rgba);

  // Closes an output and deletes whatever it wrote (its working file and
  // side files); the target's name is never touched.
  void DiscardOutput();

  // Gives this output the place of `input` on the ground: its geotransform,
  // projection and, band by band, its nodata value, mapped through the
  // input's stretch table when the stretch is active (the value those
  // pixels get in the output). False when the output refused any of them.
  // Without `noData`, the nodata values are left out.
  bool CopyGeoreferencingFrom(const RasterFile& input, bool noData = true);

  // Reads the window x0..x1-1, y0..y1-1 (rows from the bottom; may reach
  // beyond the image) at outW x outH pixels into `buffer`, a bottom-up
  // image of bufW x bufH pixels of `samplesPerPixel` samples. Parts of the
  // window outside the image are skipped in the buffer and not written.
  // band -1 reads all bands pixel-interleaved; band k >= 0 writes band k
  // into the first sample of every buffer pixel. Samples keep the file's
  // type (or `bufferType`, a GDAL type code, when given), or are one byte
  // each when the stretch is active. `cancel`, when given, aborts a long
  // read as soon as it becomes true; `progress`, when given, hears how far
  // the read has come (and may stop it). A window read at a reduced size
  // is served from the file's own overviews where it has them.
  // Result: 0 success, 1 failure (invalid window or buffer, read error).
  int ReadWindow(int x0, int y0, int x1, int y1, void* buffer, int bufW, int bufH,
                 int samplesPerPixel, int outW, int outH, int band,
                 const std::atomic<bool>* cancel = nullptr, int bufferType = 0,
                 const ReadProgress* progress = nullptr);

  // Rows top..top+rows-1, counted from the TOP, of the whole image read at
  // outW x outH pixels, into a top-down buffer of outW x rows pixels of
  // `samplesPerPixel` samples; `band` and `bufferType` as in ReadWindow.
  // The pieces of a whole reduced read pick the pixels the whole read
  // picks (the piece is a window in fractions of a row), so that several
  // handles can read one such image side by side; each piece is served
  // from the file's overviews where it has them. Without stretch only.
  // Result: 0 success, 1 failure.
  int ReadReducedRows(int outW, int outH, int top, int rows, void* buffer, int samplesPerPixel,
                      int band, int bufferType = 0);

  // The file stores a reduced copy of band 1 (an overview) that a read of
  // the whole width at `outW` columns is served from: reduced, and no more
  // than 1.2 times coarser than asked (GDAL's own threshold for nearest
  // reads).
  bool HasOverviewFor(int outW) const;

  // The colour table of a band GDAL reports as palette indices, as red,
  // green, blue and alpha per entry (at most 65536 entries). False for any
  // other band.
  bool BandPalette(int band, std::vector<uint8_t>& rgba) const;

  // Smallest and largest sample of a band, estimated as GDAL's approximate
  // pass does: from a stride of whole blocks of the image, or of an overview
  // that holds enough samples. Nodata and NaN samples are left out. The
  // blocks are read one at a time, under the same `cancel` and `progress`
  // checks as ReadWindow. False when the band has no valid samples, a read
  // fails or the pass was stopped.
  bool ComputeMinMax(int band, double& low, double& high,
                     const std::atomic<bool>* cancel = nullptr,
                     const ReadProgress* progress = nullptr);

  // Writes a bottom-up, pixel-interleaved buffer into columns 0..x1-1, rows
  // y0..y1-1 (from the bottom) of the output, one buffer pixel per image
  // pixel. Result: 0 success, 1 failure.
  int WriteWindow(int y0, int x1, int y1, const void* buffer, int bufW, int samplesPerPixel,
                  int outW, int outH);

  bool IsOpen() const { return dataset_ != nullptr; }
  double Left() const { return left_; }
  double Bottom() const { return bottom_; }
  double Right() const { return right_; }
  double Top() const { return top_; }
  double PixelSize() const { return pixelSize_; }
  int DataType() const { return dataType_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  int BandCount() const { return bandCount_; }
  int BytesPerSampleOfFile() const { return bytesPerSample_; }
  int BytesPerPixel() const { return bytesPerPixel_; }
  const std::string& Path() const { return path_; }
  bool StretchActive() const { return stretchActive_; }
  // Band b's table (65536 entries), or nullptr without stretch.
  const uint8_t* StretchTable(int band) const;
  // What went wrong in the last failed Create or CommitOutput.
  const std::string& LastError() const { return lastError_; }

 private:
  bool LoadOrBuildStretchTable(const std::atomic<bool>* cancel, const ReadProgress* progress);
  int ReadStretched(int cx0, int gdalY, int cw, int ch, uint8_t* dest, int64_t pixelStep,
                    int64_t lineStep, int ow, int oh, int band, void* extraArg);

  double left_ = 0, bottom_ = 0, right_ = 0, top_ = 0;
  double pixelSize_ = 1.0;
  int dataType_ = 0;
  int width_ = -1, height_ = -1, bandCount_ = -1;
  int bytesPerSample_ = -1;
  int bytesPerPixel_ = -1;
  std::string path_;
  bool stretchActive_ = false;
  GDALDataset* dataset_ = nullptr;
  int stretchSampleSize_ = -1;
  std::vector<uint8_t> stretchTable_;

  // Output written under a working name beside the target, renamed on commit.
  std::unique_ptr<StagedOutput> staged_;
  // Output written through a temporary GeoTIFF, copied on commit.
  std::string copyDriver_;
  std::string workingPath_;
  std::string lastError_;
};

}  // namespace pw
