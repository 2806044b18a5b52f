// The strips and tiles of a TIFF-based raw directory: every offset and byte
// count the file lists, where each piece lands in the stored frame, and a
// reader that takes one piece into memory so nothing outside it is read.
#pragma once

#include <cstdint>
#include <vector>

#include "rawdecode/raw_context.h"
#include "rawdecode/raw_stream.h"

struct raw_segment_plan {
  std::vector<uint32_t> offsets;  // file positions, one per strip or tile
  std::vector<uint32_t> lengths;  // byte counts; 0 where the file gave none
  uint32_t width = 0, height = 0; // stored positions one piece covers
  uint32_t across = 1;            // pieces side by side in one band
  // Bytes the pieces may still read: listed pieces that overlap (or claim
  // more than the file) cannot make the loader read the file many times.
  uint64_t bytes_left = 0;
};

// Reads the raw directory's list of strips or tiles. False when the file
// gave none, or identification settled on data elsewhere: the loader then
// reads one run from raw_data_offset. Pieces the frame needs but the file
// does not list, and lists that run past the end of the file, are data
// errors (the pieces named are still read) when `complain` is set; loaders
// whose cameras adjust the frame size after parsing leave it unset. A list
// of no offsets is a data error whatever `complain` says, and its plan
// names no piece to read.
bool raw_segment_plan_read(raw_decode_context* ctx, raw_segment_plan* plan, bool complain = true);

// The stored row and column where piece `i` starts.
inline uint64_t raw_segment_row(const raw_segment_plan& p, size_t i) { return uint64_t(i / p.across) * p.height; }
inline uint64_t raw_segment_column(const raw_segment_plan& p, size_t i) { return uint64_t(i % p.across) * p.width; }

// The bytes of piece `i`: from its offset, as many as its byte count says
// (up to the next piece when it gives none), at most `cap`. False, with a
// data error, when the offset lies outside the file or the pieces have read
// the file's size twice over.
bool raw_segment_bytes(raw_decode_context* ctx, raw_segment_plan& plan, size_t i, uint64_t cap,
                       std::vector<uint8_t>* bytes);

// A piece that would start outside the file: a data error of that piece
// ("Unexpected end of file"), and nothing is read from anywhere else.
void report_outside_file(raw_decode_context* ctx);

// While alive, the context reads `bytes` (a piece that started at file
// position `origin`) in place of its stream; the end of the piece is the
// end of the data. Data-error texts still name file positions.
class raw_piece_reader {
 public:
  raw_piece_reader(raw_decode_context* ctx, const std::vector<uint8_t>& bytes, uint32_t origin);
  ~raw_piece_reader();
  raw_piece_reader(const raw_piece_reader&) = delete;
  raw_piece_reader& operator=(const raw_piece_reader&) = delete;

 private:
  raw_decode_context* ctx_;
  const raw_stream_ops* ops_;
  void* stream_;
  int64_t size_, base_;
  raw_memory_stream memory_;
};
