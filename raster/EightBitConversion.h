// The viewer's 8-bit conversion: streams an image block by block through
// the 16-bit stretch (8-bit images pass unchanged) into a new 8-bit raster.
// The document owns one of these while a conversion runs; the dialogs and
// message boxes stay in the document.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
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

// Tests hold a conversion at a known point: called on the converting thread
// before each slice of rows is read, with the rows done so far (as the
// gauge counts them) and the conversion's cancel flag. Empty: nothing.
using ConversionCheckpoint = std::function<void(int rowsDone, const std::atomic<bool>* cancel)>;
void SetConversionCheckpoint(ConversionCheckpoint checkpoint);
// The same inside the pass that counts a 16-bit image's stretch table
// (when no stored table can be used), each time that pass moves the gauge.
void SetStretchPassCheckpoint(ConversionCheckpoint checkpoint);

class EightBitConversion {
 public:
  EightBitConversion() = default;
  ~EightBitConversion();
  EightBitConversion(const EightBitConversion&) = delete;
  EightBitConversion& operator=(const EightBitConversion&) = delete;

  // Converts `inputPath` into an 8-bit `outputPath` whose format follows its
  // extension. `progress` gets SetProgress(rows written, height) after every
  // pass; `rowsDone` hears, for the status-bar gauge, how far the work has
  // come in rows of the image (rows read and rows written count half each),
  // after every slice of rows, first with 0 (either may be null; both are
  // called on the converting thread). When the 16-bit stretch table has to
  // be built first, that pass (one more reading of the image) takes the
  // first third of the gauge and the rows read and written a third each. The output takes `outputPath`'s place
  // only once it is complete: a file already there is replaced then, and on
  // any failure (false, with `error` set) it is left as it was and nothing
  // of the partial output remains. `cancel`, when it becomes true, stops
  // the conversion at its next slice of rows (or strip of the table pass),
  // as a failure ("已取消"); a cancel that comes after the last row was
  // written still stops it before the output takes the target's name.
  //
  // A palette image keeps its colours: 8-bit indices pass through with
  // their colour table into a format that holds one, and are otherwise (and
  // 16-bit indices always) expanded to red, green and blue.
  bool Run(const std::string& inputPath, const std::string& outputPath,
           CProgressInterface* progress, const std::function<void(int)>& rowsDone,
           std::string& error, const std::atomic<bool>* cancel = nullptr);

  // Removes what the output has written so far; callable from any thread
  // while Run goes on (for a program that ends without waiting for it).
  void RemovePartialOutput();

  // Sizes and allocates the block buffers for the open input.
  bool AllocateBlockBuffers();
  // Closes the input and output and frees every block buffer.
  void ReleaseImageBuffers();

  // Tests set this instead of the machine's available memory.
  std::optional<uint64_t> availableMemoryOverride;
  // Tests set this to force several blocks and passes on a small image.
  std::optional<BlockLayout> layoutOverride;

  // Rows per read or write call, and so how often a cancel is seen; tests
  // make it small.
  int sliceRows = 0;

  int rowsPerBlock = 256;
  int blockCount = 0;
  int width = 0, height = 0, bandCount = 0;
  int bytesPerPixel = 0, bytesPerSample = 0;
  std::vector<std::vector<uint8_t>> blockBuffers;
  std::unique_ptr<RasterFile> input, output;
  // The input's colour table (red, green, blue, alpha per entry) when band
  // 1 holds palette indices; whether they are expanded to three bands.
  std::vector<uint8_t> palette;
  bool expandPalette = false;

 private:
  bool Convert(const std::string& inputPath, const std::string& outputPath,
               CProgressInterface* progress, const std::function<void(int)>& rowsDone,
               std::string& error, const std::atomic<bool>* cancel);
  // Opens the input: with the stretch for 16-bit samples, without it for
  // palette indices, which are colours and not values to stretch. Sets the
  // image's size first; `tablePass` hears how far the stretch-table pass
  // has come when one runs (it ran when it was called).
  bool OpenInput(const std::string& inputPath, std::string& error,
                 const std::atomic<bool>* cancel, const ReadProgress& tablePass);

  std::mutex partialMutex_;
  std::vector<std::string> partialFiles_;  // under partialMutex_
};

}  // namespace pw
