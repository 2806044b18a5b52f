// The decode context: every piece of state of one RAW decode, the stream,
// the caller's options, the decoder tables, what identification found, the
// geometry, the pixels and colour data, and the hooks. Nothing of a decode
// lives outside it, so several files decode at once on worker threads.
//
// The context is large (about 300 KB) and refers into itself (Huffman nodes
// point at nodes of its own pool), so it lives on the heap, is made by
// raw_context_create() and is never copied or moved.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "rawdecode/raw_parse_state.h"
#include "rawdecode/raw_types.h"

// Options, set by the caller before identification.
struct raw_decode_options {
  const char* dark_frame_path = nullptr;  // null: no dark frame
  const char* bad_pixel_path = nullptr;   // null: search "/.badpixels" upwards
  int32_t user_black_level = -1;          // -1 keeps the camera's
  int32_t user_quality = -1;              // demosaic 0..3; -1 lets the driver choose
  int32_t user_white_level = -1;          // -1 keeps the camera's
  int32_t rotate_fuji_layout = 1;
  float denoise_threshold = 0;            // 0 disables wavelet denoising
  float brightness = 1.0f;
  float user_wb_multipliers[4] = {0, 0, 0, 0};  // used when the first is non-zero
  double aberration_scale[4] = {1, 1, 1, 1};    // [0] red, [2] blue
  double gamma_params[5] = {0.45, 4.5, 0, 0, 0};
  int32_t median_pass_count = 0;
  int32_t highlight_mode = 0;   // 0 clip, 1 unclipped, 2 blend, 3+ rebuild
  int32_t shot_index = 0;
  int32_t output_space = 1;     // 0 camera, 1 sRGB, 2 Adobe, 3 Wide, 4 ProPhoto, 5 XYZ
  int32_t output_bits = 8;
  int32_t output_tiff = 0;
  int32_t half_size_output = 0;
  int32_t four_colour_demosaic = 0;
  int32_t verbose_messages = 0;
  int32_t document_mode_level = 0;
  int32_t disable_auto_bright = 0;
  uint32_t grey_box[4] = {0, 0, 0xFFFFFFFFu, 0xFFFFFFFFu};  // left, top, width, height
  int32_t auto_white_balance = 0;
  int32_t camera_white_balance = 0;
  int32_t camera_colour_matrix = 0;
  // Threads that decode a file's strips or tiles at once; 0: one per
  // processor, at most 8.
  int32_t decode_threads = 1;
};

// Receives every text the decoder writes (data errors, warnings, verbose
// progress, failure texts), one call per text.
typedef void (*raw_message_fn)(void* user, const char* text);

constexpr int raw_huff_pool_size = 2048;
constexpr int raw_tone_curve_size = 0x4001;

struct raw_decode_context {
  raw_decode_context() = default;
  raw_decode_context(const raw_decode_context&) = delete;
  raw_decode_context& operator=(const raw_decode_context&) = delete;

  // 1. Stream
  const raw_stream_ops* ops = nullptr;
  void* stream = nullptr;
  int64_t stream_size = -1;  // bytes in the stream, measured by raw_set_stream; -1 unknown
  // Added to positions in data-error texts while a loader reads a strip or
  // tile from memory, so the text names the place in the file.
  int64_t message_position_base = 0;

  // 2. Options
  raw_decode_options options;

  // 3. Decoder tables, and the readers' state
  huff_node huff_pool[raw_huff_pool_size] = {};
  huff_node* huff_second_tree = nullptr;
  uint32_t huff_next_free = 0;  // index of the next free node of huff_pool
  int32_t huff_leaf_counter = 0;
  // bit reader (read_bits)
  uint32_t bit_buffer = 0;
  int32_t bit_count = 0;
  int32_t bit_marker = 0;  // 0, or the code of the marker met (0x100 at the end of the data)
  // 64-bit reader of the Phase One and Hasselblad loaders
  uint64_t ph1_bit_buffer = 0;
  int32_t ph1_bit_count = 0;
  // Panasonic block and its read position
  uint8_t panasonic_block[0x4000] = {};
  uint32_t panasonic_position = 0;
  // Kodak RADC trees: roots, build position in the source table, current node
  huff_node* radc_roots[18] = {};
  int32_t radc_source_position = 0;
  huff_node* radc_current_node = nullptr;
  // Sony keystream and its position
  uint32_t sony_keystream[128] = {};
  uint32_t sony_key_position = 0;
  // segment buffer of the lossless-JPEG header reader
  uint8_t ljpeg_segment[0x10000] = {};

  // 4. Identification results
  raw_ifd_summary ifd_summaries[10] = {};
  raw_ifd_layout ifd_layouts[10] = {};  // beside each summary
  raw_ifd_layout raw_layout = {};       // that of the raw directory (count 0: none)
  phase_one_info phase_one_params = {};
  uint16_t byte_order = 0;  // 0x4949 little-endian; anything else big-endian
  const char* message_name = "rawdecode";
  std::unique_ptr<uint8_t[]> meta_buffer;
  char colour_letters[5] = {};
  char image_description[512] = {};
  char camera_make[64] = {};
  char camera_model[64] = {};
  char camera_model_extra[64] = {};
  char artist_name[64] = {};
  float flash_fired = 0, canon_exposure_value = 0, iso_value = 0;
  float shutter_seconds = 0, aperture_value = 0, focal_length_mm = 0;
  int64_t shot_time = 0;
  uint32_t shot_sequence = 0;
  uint32_t kodak_bit_code = 0;
  uint32_t cfa_pattern = 0;
  uint32_t exif_cfa_pattern = 0;
  uint32_t camera_id = 0;
  uint32_t strip_offset = 0, raw_data_offset = 0, thumb_data_offset = 0, meta_data_offset = 0;
  uint32_t icc_profile_offset = 0, thumb_data_length = 0, meta_data_length = 0;
  uint32_t icc_profile_length = 0;
  uint32_t thumb_format_info = 0;
  std::unique_ptr<uint8_t[]> output_icc_profile;
  int32_t fuji_layout_flag = 0;
  int32_t ifd_count = 0;
  int32_t samples_per_pixel = 0, bits_per_sample = 0, compression_code = 0;
  uint32_t black_level = 0, white_level = 0;
  int32_t mixed_green = 0;
  int32_t raw_colour_flag = 0;
  int32_t apply_gamma = 0;
  int32_t zero_is_bad = 0;
  int32_t ff00_stuffing = 0;
  int32_t raw_image_count = 0;
  uint32_t dng_version_code = 0;
  int32_t foveon_flag = 0;
  int32_t data_error_reported = 0;
  // Set by the parsers when a tag's value does not lie wholly inside the
  // file: the tag is not used, and the picture is damaged.
  int32_t tag_value_cut = 0;
  uint32_t tile_width = 0, tile_height = 0;
  uint32_t gps_block[32] = {};
  int32_t loader_flags = 0;

  // 5. Geometry
  uint16_t sensor_height = 0, sensor_width = 0, image_height = 0, image_width = 0;
  uint16_t top_margin = 0, left_margin = 0, shrink_factor = 0;
  uint16_t buffer_height = 0, buffer_width = 0, fuji_diagonal_width = 0;
  uint16_t thumb_width = 0, thumb_height = 0;
  int32_t orientation_flags = 0, ifd_orientation = 0, colour_count = 0, demosaic_quality = 0;
  double pixel_aspect_ratio = 1.0;

  // 6. Image and colour
  raw_pixel_buffer pixels;  // buffer_height x buffer_width
  uint64_t pixel_count = 0;             // pixels held by `pixels`
  uint16_t white_patch[8][8] = {};
  uint16_t tone_curve[raw_tone_curve_size] = {};
  // A DNG linearization table longer than the 4096 entries tone_curve takes
  // (up to 65536); linear_table_count 0 when the file gave none so long.
  std::unique_ptr<uint16_t[]> linear_table;
  uint32_t linear_table_count = 0;
  uint16_t canon_slices[3] = {};
  uint16_t sraw_multipliers[4] = {};
  float camera_multipliers[4] = {};
  float pre_multipliers[4] = {};
  float file_colour_matrix[3][4] = {};
  float rgb_from_camera[3][4] = {};
  int32_t output_histogram[4][0x2000] = {};

  // 7. Hooks and messages
  raw_thumb_writer_fn thumb_writer = nullptr;
  raw_load_fn raw_loader = nullptr;
  raw_load_fn thumb_loader = nullptr;
  // Failures throw raw_failure (raw_failure.h) in place of a jump; the text of
  // the failure (out of memory, decoder-table overflow) is left here.
  std::string message_text;
  // Why identification refused a file it knew as raw (a DNG compression it
  // cannot decode); empty when it refused it as not raw at all.
  std::string refusal_text;
  // Every text the decoder writes is appended here (capped) and handed to
  // the callback when one is set. Nothing goes to stdout or stderr.
  std::string message_log;
  raw_message_fn message_callback = nullptr;
  void* message_user = nullptr;

  // 8. Container parsers: the routines they chose, by name (identification
  // installs the routine a name stands for in raw_loader, thumb_loader and
  // thumb_writer), where the Pentax decode tree lies, and the parse limits.
  raw_loader_name raw_loader_choice = raw_loader_name::none;
  raw_loader_name thumb_loader_choice = raw_loader_name::none;
  raw_thumb_name thumb_writer_choice = raw_thumb_name::none;
  uint32_t pentax_tree_offset = 0;  // 0: none; else the file position of the 13 codes
  raw_parse_state parse;
};

// A zeroed context with the option defaults, reading through the standard-I/O
// operations with no stream yet.
std::unique_ptr<raw_decode_context> raw_context_create();

// Installs a stream-operation table and handle, and measures the data size
// (end position) so that every computed position can be checked; the
// position is left at the start.
void raw_set_stream(raw_decode_context* ctx, const raw_stream_ops* ops, void* handle);

// Allocates a zeroed pixel buffer of buffer_height x buffer_width pixels,
// computing those from image_height, image_width and shrink_factor first.
// A size that cannot be had is an out-of-memory failure naming `place`.
void raw_allocate_pixels(raw_decode_context* ctx, const char* place);

// True when `pixels` holds the whole visible image as the CFA sample
// addressing (shrink_factor) or the full-size stages (shrink 0) reach it.
bool raw_pixels_cover_image(const raw_decode_context* ctx);

// True when `pixels` holds image_height x image_width whole pixels, row
// after row: the layout of the stages after pre_interpolate.
bool raw_pixels_hold_full_image(const raw_decode_context* ctx);
