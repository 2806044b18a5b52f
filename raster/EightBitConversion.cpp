#include "raster/EightBitConversion.h"

#include <gdal.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>

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

}  // namespace

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
  const uint64_t available = availableMemoryOverride ? *availableMemoryOverride
                                                     : AvailablePhysicalMemory();
  BlockLayout layout;
  if (layoutOverride) {
    layout = *layoutOverride;
    if (layout.rowsPerBlock < 1 || layout.blockCount < 1) return false;
  } else if (!ComputeBlockLayout(available, width, height, bytesPerPixel, layout)) {
    return false;
  }
  rowsPerBlock = layout.rowsPerBlock;
  blockCount = layout.blockCount;
  try {
    blockBuffers.resize(size_t(blockCount));
    for (auto& buffer : blockBuffers)
      buffer.assign(size_t(width) * size_t(bytesPerPixel) * size_t(rowsPerBlock), 0);
  } catch (const std::bad_alloc&) {
    blockBuffers.clear();
    blockBuffers.shrink_to_fit();
    return false;
  }
  return true;
}

bool EightBitConversion::Run(const std::string& inputPath, const std::string& outputPath,
                             CProgressInterface* progress,
                             const std::function<void(int)>& rowsDone, std::string& error) {
  ReleaseImageBuffers();
  error.clear();
  if (outputPath.empty()) {
    error = "没有输出文件";
    return false;
  }
  if (SameFile(inputPath, outputPath)) {
    error = "输出文件不能是正在查看的影像本身";
    return false;
  }

  input = std::make_unique<RasterFile>();
  output = std::make_unique<RasterFile>();
  const bool stretch = true;
  if (!input->Open(inputPath, stretch)) {
    error = input->LastError().empty() ? "无法打开影像" : input->LastError();
    ReleaseImageBuffers();
    return false;
  }
  // Only 8-bit and 16-bit samples have a mapping to one byte; wider ones
  // would be written as their raw bytes.
  if (input->BytesPerSampleOfFile() != 1 && input->BytesPerSampleOfFile() != 2) {
    error = std::string("不支持转换这种像素类型：") +
            GDALGetDataTypeName(GDALDataType(input->DataType())) + "（只能转换 8 位和 16 位整数影像）";
    ReleaseImageBuffers();
    return false;
  }
  const int w = input->Width(), h = input->Height(), n = input->BandCount();
  if (!output->Create(outputPath, w, h, n)) {
    error = output->LastError().empty() ? "无法创建输出文件" : output->LastError();
    ReleaseImageBuffers();
    return false;
  }
  auto fail = [&](const std::string& why) {
    error = why;
    output->DiscardOutput();
    ReleaseImageBuffers();
    return false;
  };
  // The copy lies where the image lies: geotransform, projection, nodata.
  if (!output->CopyGeoreferencingFrom(*input)) return fail("无法写入输出文件的地理参考");
  if (!AllocateBlockBuffers()) return fail("内存不足，无法分配转换缓冲区");

  if (rowsDone) rowsDone(0);
  const int r = rowsPerBlock;
  int l = 0;
  auto readBlock = [&](int start, int rows, std::vector<uint8_t>& buffer) {
    return input->ReadWindow(0, start, width, start + rows, buffer.data(), width, rows, bandCount,
                             width, rows, -1) == 0;
  };
  auto writeBlock = [&](int start, int rows, std::vector<uint8_t>& buffer) {
    const bool ok =
        output->WriteWindow(start, width, start + rows, buffer.data(), width, bandCount, width,
                            rows) == 0;
    std::fill(buffer.begin(), buffer.end(), 0);
    return ok;
  };
  while (l < height) {
    if (l + r < height) {
      int count = 0;
      for (int start = l; count < blockCount && start + r < height; start += r, ++count)
        if (!readBlock(start, r, blockBuffers[size_t(count)])) return fail("读取影像失败");
      for (int k = 0; k < count; ++k, l += r)
        if (!writeBlock(l, r, blockBuffers[size_t(k)])) return fail("写入输出文件失败");
      if (progress) progress->SetProgress(uint64_t(l), uint64_t(height));
    } else {
      const int rows = height - l;
      if (!readBlock(l, rows, blockBuffers[0])) return fail("读取影像失败");
      if (!writeBlock(l, rows, blockBuffers[0])) return fail("写入输出文件失败");
      l = height;
      if (progress) progress->SetProgress(uint64_t(height), uint64_t(height));
    }
    if (rowsDone) rowsDone(l);
  }
  if (!output->CommitOutput())
    return fail(output->LastError().empty() ? "写入输出文件失败" : "写入输出文件失败：" + output->LastError());
  ReleaseImageBuffers();
  return true;
}

}  // namespace pw
