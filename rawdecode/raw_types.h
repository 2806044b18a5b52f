// Plain records of the camera-RAW decoder: pixels, Huffman nodes, directory
// summaries and the nine stream operations every read goes through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

struct raw_decode_context;

// A loader fills the context's pixel buffer from the stream.
typedef void (*raw_load_fn)(raw_decode_context* ctx);
// Writes an embedded thumbnail to a run-time library stream.
typedef void (*raw_thumb_writer_fn)(raw_decode_context* ctx, FILE* out);

// One decoded pixel: a sample per colour index 0..3.
struct raw_pixel {
  uint16_t sample[4];
  uint16_t& operator[](size_t c) { return sample[c]; }
  uint16_t operator[](size_t c) const { return sample[c]; }
};

// Pixel buffers come from calloc (raw_alloc_pixels): a large one arrives as
// fresh zero pages, so the loader's writes are its first touch instead of
// following a pass that zeroes the whole buffer.
struct raw_free {
  void operator()(void* p) const { free(p); }
};
typedef std::unique_ptr<raw_pixel[], raw_free> raw_pixel_buffer;

// One node of a Huffman decode tree. A node whose first branch is null is a
// leaf. Nodes live only in the pool of the context that built them.
struct huff_node {
  huff_node* branch[2];
  int32_t leaf;
};

// What is kept of each TIFF image directory met while parsing.
struct raw_ifd_summary {
  int32_t width, height, bits_per_sample, compression, photometric;
  int32_t data_offset, orientation, samples, byte_count;
};

// A list of values in a TIFF directory (strip or tile offsets, byte counts),
// remembered by where it lies so the loader can read it whole.
struct raw_value_list {
  int64_t position;  // file position of the first value; 0 with count 0
  uint32_t count;
  uint16_t type;     // 3 SHORT, otherwise LONG
  int64_t base;      // added to every value that is an offset
  bool given;        // the directory holds the tag, whatever its count
};

// How a directory stores its picture: every strip or tile it names, with
// the strip height or the tile size. `data_offset` is the summary's data
// offset when the directory was read, so a loader can tell whether the
// layout still describes the data identification settled on.
struct raw_ifd_layout {
  raw_value_list offsets, byte_counts;
  uint32_t rows_per_strip;           // 0: not given
  uint32_t tile_width, tile_height;  // 0: not given
  bool tiled;                        // the offsets came from tag 324
  int32_t data_offset;
};

struct phase_one_info {
  int32_t format, key_offset, black_level, black_offset, split_column, tag_21a;
  float tag_210;
};

// The stream operations, in this order. Every operation gets the context's
// stream handle first. Offsets and positions are 32-bit signed here; the
// decoder itself checks every position it computes in 64 bits against the
// data size (raw_seek).
struct raw_stream_ops {
  size_t (*read)(void* handle, void* buffer, size_t size, size_t count);
  size_t (*write)(void* handle, const void* buffer, size_t size, size_t count);
  int (*seek)(void* handle, int32_t offset, int origin);  // 0 start, 1 current, 2 end
  int (*close)(void* handle);
  char* (*gets)(void* handle, char* buffer, int size);
  int (*eof)(void* handle);
  int32_t (*tell)(void* handle);
  int (*getc)(void* handle);
  int (*scanf)(void* handle, const char* format, ...);
};
