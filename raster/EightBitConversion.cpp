#include "raster/EightBitConversion.h"

#include <gdal.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>

#include "platform/background_work.h"
#include "platform/files.h"
#include "platform/memory.h"

namespace pw {
namespace {

constexpr uint64_t kGiB = uint64_t(1) << 30;
constexpr uint64_t kMiB = uint64_t(1) << 20;

// Two spellings of one file (links, "./", "//") must still be caught.
bool SameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

// About this many bytes of the input per read call.
constexpr int64_t kSliceBytes = int64_t(8) << 20;

// Output formats that carry a colour table with 8-bit indices.
bool KeepsPalette(const std::string& path) {
  const char* driver = DriverNameFromExtension(path);
  if (!driver) return false;
  for (const char* name : {"GTiff", "BMP", "PNG", "GIF", "HFA"})
    if (std::strcmp(driver, name) == 0) return true;
  return false;
}

std::mutex g_checkpointMutex;
ConversionCheckpoint g_checkpoint;
ConversionCheckpoint g_passCheckpoint;

ConversionCheckpoint CurrentCheckpoint() {
  std::lock_guard<std::mutex> lock(g_checkpointMutex);
  return g_checkpoint;
}

ConversionCheckpoint CurrentPassCheckpoint() {
  std::lock_guard<std::mutex> lock(g_checkpointMutex);
  return g_passCheckpoint;
}

}  // namespace

void SetConversionCheckpoint(ConversionCheckpoint checkpoint) {
  std::lock_guard<std::mutex> lock(g_checkpointMutex);
  g_checkpoint = std::move(checkpoint);
}

void SetStretchPassCheckpoint(ConversionCheckpoint checkpoint) {
  std::lock_guard<std::mutex> lock(g_checkpointMutex);
  g_passCheckpoint = std::move(checkpoint);
}

uint64_t ComputeMemoryCap(uint64_t usable) { return usable != 0 ? kGiB : 16 * kMiB; }

bool ComputeBlockLayout(uint64_t available, int width, int height, int bytesPerPixel,
                        BlockLayout& layout) {
  layout = {};
  if (width < 1 || height < 1 || bytesPerPixel < 1) return false;
  const uint64_t usable = available / 10 * 8;  // 80 %
  const uint64_t cap = ComputeMemoryCap(usable);
  const uint64_t rowBytes = uint64_t(width) * uint64_t(bytesPerPixel);
  // Half of the usable memory per block; with the memory unknown, the cap.
  const uint64_t rows0 = usable != 0 ? usable / 2 / rowBytes : cap / rowBytes;
  uint64_t bytes = std::min(cap, rowBytes * rows0);
  bytes = (bytes / 512 + 1) * 512;
  uint64_t rows = std::min<uint64_t>(bytes / rowBytes, uint64_t(height));
  if (rows == 0) return false;
  const uint64_t blockBytes = rows * rowBytes;
  // All blocks together stay well below the available memory: a quarter of
  // the usable part at most (four blocks' cap), and never less than one
  // block.
  const uint64_t budget = std::max(blockBytes, std::min(usable / 4, 4 * cap));
  const uint64_t blocksForImage = (uint64_t(height) + rows - 1) / rows;
  const uint64_t count = std::min(budget / blockBytes, blocksForImage);
  if (count == 0) return false;
  layout.rowsPerBlock = int(rows);
  layout.blockCount = int(count);
  return true;
}

EightBitConversion::~EightBitConversion() { ReleaseImageBuffers(); }

void EightBitConversion::ReleaseImageBuffers() {
  if (input) input->Close();
  if (output) output->Close();
  input.reset();
  output.reset();
  blockBuffers.clear();
  blockBuffers.shrink_to_fit();
}

bool EightBitConversion::AllocateBlockBuffers() {
  if (!input || !input->IsOpen()) return false;
  width = input->Width();
  height = input->Height();
  bandCount = input->BandCount();
  bytesPerPixel = input->BytesPerPixel();
  bytesPerSample = input->BytesPerSampleOfFile();
  // A block holds the input's pixels as read, or the three colour bytes a
  // palette index becomes, whichever is larger.
  const int bufferPixelBytes = std::max(bytesPerPixel, expandPalette ? 3 : 0);
  const uint64_t available = availableMemoryOverride ? *availableMemoryOverride
                                                     : AvailablePhysicalMemory();
  BlockLayout layout;
  if (layoutOverride) {
    layout = *layoutOverride;
    if (layout.rowsPerBlock < 1 || layout.blockCount < 1) return false;
  } else if (!ComputeBlockLayout(available, width, height, bufferPixelBytes, layout)) {
    return false;
  }
  rowsPerBlock = layout.rowsPerBlock;
  blockCount = layout.blockCount;
  try {
    blockBuffers.resize(size_t(blockCount));
    for (auto& buffer : blockBuffers)
      buffer.assign(size_t(width) * size_t(bufferPixelBytes) * size_t(rowsPerBlock), 0);
  } catch (const std::bad_alloc&) {
    blockBuffers.clear();
    blockBuffers.shrink_to_fit();
    return false;
  }
  return true;
}

void EightBitConversion::RemovePartialOutput() {
  std::lock_guard<std::mutex> lock(partialMutex_);
  for (const std::string& file : partialFiles_) RemoveFile(file);
  partialFiles_.clear();
}

bool EightBitConversion::OpenInput(const std::string& inputPath, std::string& error,
                                   const std::atomic<bool>* cancel,
                                   const ReadProgress& tablePass) {
  input = std::make_unique<RasterFile>();
  const bool noStretch = false;
  if (!input->Open(inputPath, noStretch)) {
    error = input->LastError().empty() ? "无法打开影像" : input->LastError();
    return false;
  }
  // The gauge's range is the height, from the first report on.
  width = input->Width();
  height = input->Height();
  const int type = input->DataType();
  palette.clear();
  if ((type == GDT_Byte || type == GDT_UInt16) && input->BandPalette(0, palette)) return true;
  palette.clear();
  if (input->BytesPerSampleOfFile() != 2) return true;
  // 16-bit values: open again with the stretch, which builds or reads the
  // sidecar table.
  input->Close();
  input = std::make_unique<RasterFile>();
  const bool stretch = true;
  if (!input->Open(inputPath, stretch, cancel, &tablePass)) {
    error = input->LastError().empty() ? "无法打开影像" : input->LastError();
    return false;
  }
  return true;
}

bool EightBitConversion::Run(const std::string& inputPath, const std::string& outputPath,
                             CProgressInterface* progress,
                             const std::function<void(int)>& rowsDone, std::string& error,
                             const std::atomic<bool>* cancel) {
  error.clear();
  bool ok = false;
  try {
    ok = Convert(inputPath, outputPath, progress, rowsDone, error, cancel);
  } catch (...) {
    error = CurrentExceptionText();
  }
  if (!ok) {
    if (output) output->DiscardOutput();
    RemovePartialOutput();
    ReleaseImageBuffers();
    if (error.empty()) error = "转换失败";
  }
  std::lock_guard<std::mutex> lock(partialMutex_);
  partialFiles_.clear();
  return ok;
}

bool EightBitConversion::Convert(const std::string& inputPath, const std::string& outputPath,
                                 CProgressInterface* progress,
                                 const std::function<void(int)>& rowsDone, std::string& error,
                                 const std::atomic<bool>* cancel) {
  ReleaseImageBuffers();
  expandPalette = false;
  auto cancelled = [&] {
    if (cancel && cancel->load()) {
      error = "已取消";
      return true;
    }
    return false;
  };
  if (outputPath.empty()) {
    error = "没有输出文件";
    return false;
  }
  if (SameFile(inputPath, outputPath)) {
    error = "输出文件不能是正在查看的影像本身";
    return false;
  }
  // The table pass, when one runs, takes the first third of the gauge.
  // GDAL reports inside its reads as often as every row: the gauge hears of
  // a step of a hundredth of the pass at least, each report being an event
  // on the window's queue.
  bool tablePassRan = false;
  int passTold = -1;
  const ReadProgress tablePass = [&](double fraction) {
    tablePassRan = true;
    const int rows = int(fraction * height / 3);
    if (passTold < 0 || rows - passTold >= std::max(1, height / 300)) {
      passTold = rows;
      if (rowsDone) rowsDone(rows);
      if (ConversionCheckpoint hold = CurrentPassCheckpoint()) hold(rows, cancel);
    }
    return true;
  };
  if (!OpenInput(inputPath, error, cancel, tablePass)) return false;
  // Only 8-bit and 16-bit samples have a mapping to one byte; wider ones
  // would be written as their raw bytes.
  if (input->BytesPerSampleOfFile() != 1 && input->BytesPerSampleOfFile() != 2) {
    error = std::string("不支持转换这种像素类型：") +
            GDALGetDataTypeName(GDALDataType(input->DataType())) + "（只能转换 8 位和 16 位整数影像）";
    return false;
  }
  const int w = input->Width(), h = input->Height(), n = input->BandCount();
  const bool paletted = !palette.empty();
  // Indices become colours where the output cannot carry the table: 16-bit
  // indices never fit one, and a format without palettes would keep bare
  // indices.
  expandPalette = paletted && (input->BytesPerSampleOfFile() == 2 || !KeepsPalette(outputPath));
  if (expandPalette && n != 1) {
    error = "带调色板的多波段影像无法转换为这种格式";
    return false;
  }
  const int outBands = expandPalette ? 3 : n;
  output = std::make_unique<RasterFile>();
  if (!output->Create(outputPath, w, h, outBands)) {
    error = output->LastError().empty() ? "无法创建输出文件" : output->LastError();
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(partialMutex_);
    partialFiles_ = output->OutputFiles();
  }
  // The copy lies where the image lies: geotransform, projection, nodata
  // (an index's nodata means nothing once the indices are colours).
  if (!output->CopyGeoreferencingFrom(*input, !expandPalette)) {
    error = "无法写入输出文件的地理参考";
    return false;
  }
  if (paletted && !expandPalette) {
    for (int b = 0; b < n; ++b) {
      std::vector<uint8_t> table;
      if (!input->BandPalette(b, table)) continue;
      table.resize(std::min(table.size(), size_t(256) * 4));
      if (!output->SetBandPalette(b, table)) {
        error = "无法写入输出文件的调色板";
        return false;
      }
    }
  }
  if (!AllocateBlockBuffers()) {
    error = "内存不足，无法分配转换缓冲区";
    return false;
  }

  // Every read and write call covers a slice of a block's rows, so a cancel
  // is seen within one slice, however large the blocks.
  const int64_t inRowBytes = int64_t(width) * std::max(bytesPerPixel, 1);
  const int slice = sliceRows > 0 ? sliceRows
                                  : int(std::clamp<int64_t>(kSliceBytes / inRowBytes, 1, 1 << 20));
  const int outPixelBytes = outBands;
  const size_t outRowBytes = size_t(width) * outPixelBytes;
  std::vector<uint8_t> indices;
  if (expandPalette) indices.resize(size_t(width) * bytesPerSample * size_t(std::min(slice, rowsPerBlock)));
  // Every possible index to its colour; indices past the table are black.
  std::vector<uint8_t> colours;
  if (expandPalette) {
    colours.assign(size_t(3) << (8 * bytesPerSample), 0);
    for (size_t i = 0; i < palette.size() / 4 && i * 3 < colours.size(); ++i)
      std::memcpy(&colours[i * 3], &palette[i * 4], 3);
  }

  int64_t rowsRead = 0, rowsWritten = 0;
  // How far the gauge is, in rows of the image.
  auto gauge = [&] {
    return int(tablePassRan ? (height + rowsRead + rowsWritten) / 3
                            : (rowsRead + rowsWritten) / 2);
  };
  auto tell = [&] {
    if (rowsDone) rowsDone(gauge());
  };
  // Rows start..start+rows-1 into a block buffer, slice by slice.
  auto readBlock = [&](int start, int rows, std::vector<uint8_t>& buffer) {
    for (int at = start; at < start + rows; at += slice) {
      const int k = std::min(slice, start + rows - at);
      if (ConversionCheckpoint hold = CurrentCheckpoint()) hold(gauge(), cancel);
      if (cancelled()) return false;
      uint8_t* dest = buffer.data() + size_t(at - start) * outRowBytes;
      if (!expandPalette) {
        if (input->ReadWindow(0, at, width, at + k, dest, width, k, bandCount, width, k, -1,
                              cancel) != 0) {
          if (!cancelled()) error = "读取影像失败";
          return false;
        }
      } else {
        if (input->ReadWindow(0, at, width, at + k, indices.data(), width, k, 1, width, k, -1,
                              cancel) != 0) {
          if (!cancelled()) error = "读取影像失败";
          return false;
        }
        const size_t pixels = size_t(width) * k;
        if (bytesPerSample == 2) {
          for (size_t p = 0; p < pixels; ++p) {
            uint16_t index;
            std::memcpy(&index, &indices[p * 2], 2);
            std::memcpy(dest + p * 3, &colours[size_t(index) * 3], 3);
          }
        } else {
          for (size_t p = 0; p < pixels; ++p)
            std::memcpy(dest + p * 3, &colours[size_t(indices[p]) * 3], 3);
        }
      }
      rowsRead += k;
      tell();
    }
    return true;
  };
  auto writeBlock = [&](int start, int rows, std::vector<uint8_t>& buffer) {
    for (int at = start; at < start + rows; at += slice) {
      const int k = std::min(slice, start + rows - at);
      if (cancelled()) return false;
      const uint8_t* from = buffer.data() + size_t(at - start) * outRowBytes;
      if (output->WriteWindow(at, width, at + k, from, width, outBands, width, k) != 0 ||
          !output->FlushOutput()) {
        error = "写入输出文件失败";
        return false;
      }
      rowsWritten += k;
      tell();
    }
    std::fill(buffer.begin(), buffer.end(), 0);
    return true;
  };

  tell();
  const int r = rowsPerBlock;
  int l = 0;
  while (l < height) {
    if (l + r < height) {
      int count = 0;
      for (int start = l; count < blockCount && start + r < height; start += r, ++count)
        if (!readBlock(start, r, blockBuffers[size_t(count)])) return false;
      for (int k = 0; k < count; ++k, l += r)
        if (!writeBlock(l, r, blockBuffers[size_t(k)])) return false;
      if (progress) progress->SetProgress(uint64_t(l), uint64_t(height));
    } else {
      const int rows = height - l;
      if (!readBlock(l, rows, blockBuffers[0])) return false;
      if (!writeBlock(l, rows, blockBuffers[0])) return false;
      l = height;
      if (progress) progress->SetProgress(uint64_t(height), uint64_t(height));
    }
  }
  if (cancelled()) return false;
  if (!output->CommitOutput(cancel)) {
    if (!cancelled())
      error = output->LastError().empty() ? "写入输出文件失败" : "写入输出文件失败：" + output->LastError();
    return false;
  }
  ReleaseImageBuffers();
  return true;
}

}  // namespace pw
