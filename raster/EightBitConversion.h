// The viewer's 8-bit conversion: streams an image block by block through
// the 16-bit stretch (8-bit images pass unchanged) into a new 8-bit raster.
// The document owns one of these while a conversion runs; the dialogs and
// message boxes stay in the document.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "raster/RasterFile.h"
#include "platform/progress.h"

namespace pw {

// Block sizes from the memory at hand: rows per block and how many blocks
// are read before they are written. Pure arithmetic, 64-bit throughout.
struct BlockLayout {
  int rowsPerBlock = 0;
  int blockCount = 0;
};

// 1 GiB per block when the available memory is known, 16 MiB when not.
uint64_t ComputeMemoryCap(uint64_t usable);

// `available`: bytes of physical memory available (0 when unknown). False
// when not even one row fits in a block.
bool ComputeBlockLayout(uint64_t available, int width, int height, int bytesPerPixel,
                        BlockLayout& layout);

class EightBitConversion {
 public:
  EightBitConversion() = default;
  ~EightBitConversion();
  EightBitConversion(const EightBitConversion&) = delete;
  EightBitConversion& operator=(const EightBitConversion&) = delete;

  // Converts `inputPath` into an 8-bit `outputPath` whose format follows its
  // extension. `progress` gets SetProgress(rows done, height) after every
  // pass and `rowsDone` the same count for the status-bar gauge (either may
  // be null). The output takes `outputPath`'s place only once it is
  // complete: a file already there is replaced then, and on any failure
  // (false, with `error` set) it is left as it was and nothing of the
  // partial output remains.
  bool Run(const std::string& inputPath, const std::string& outputPath,
           CProgressInterface* progress, const std::function<void(int)>& rowsDone,
           std::string& error);

  // Sizes and allocates the block buffers for the open input.
  bool AllocateBlockBuffers();
  // Closes the input and output and frees every block buffer.
  void ReleaseImageBuffers();

  // Tests set this instead of the machine's available memory.
  std::optional<uint64_t> availableMemoryOverride;
  // Tests set this to force several blocks and passes on a small image.
  std::optional<BlockLayout> layoutOverride;

  int rowsPerBlock = 256;
  int blockCount = 0;
  int width = 0, height = 0, bandCount = 0;
  int bytesPerPixel = 0, bytesPerSample = 0;
  std::vector<std::vector<uint8_t>> blockBuffers;
  std::unique_ptr<RasterFile> input, output;
};

}  // namespace pw
