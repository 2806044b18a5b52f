// The PSD decoder: reads a Photoshop document through caller-supplied stream
// callbacks into one psd_file_context. Procedural, the context first in every
// call; the decoder never opens files and keeps no state outside the context.
#pragma once

#include "psddecode/psd_types.h"

// Runs the stages from context->state to the end. 0 or a negative status.
psd_status psd_main_loop(psd_file_context* context);
// Releases everything the context owns (not the record itself). -1 for null.
psd_status psd_free_context(psd_file_context* context);

// Buffered stream: every file byte the decoder sees comes through these.
int32_t psd_stream_read(psd_file_context* context, void* destination, int32_t n);
int32_t psd_stream_skip(psd_file_context* context, int32_t n);

// Value readers: a short read yields 0.
uint8_t psd_get_u8(psd_file_context* context);
bool psd_get_bool(psd_file_context* context);
uint16_t psd_get_be16(psd_file_context* context);
uint32_t psd_get_be32(psd_file_context* context);
double psd_get_be_double(psd_file_context* context);
int32_t psd_get_blend_key(psd_file_context* context);
psd_argb psd_get_color(psd_file_context* context);

// Colour conversion helpers (also used on their own by tests and callers).
psd_status psd_color_to_argb(psd_argb* result, int16_t space, const int16_t components[4]);
psd_argb psd_cmyk_to_argb(double c, double m, double y, double k);
psd_argb psd_hsl_to_argb(double h, double s, double l);
int32_t psd_hue_component(double x, double m1, double m2);
psd_argb psd_lab_to_argb(uint32_t alpha, double l, double a, double b);
psd_argb psd_xyz_to_argb(uint32_t alpha, double x, double y, double z);

// Decompression shared by the merged image, layer channels and patterns.
psd_status psd_inflate(const uint8_t* input, int64_t input_length, uint8_t* output,
                       int64_t output_length);
psd_status psd_inflate_predicted(const uint8_t* input, int64_t input_length, uint8_t* output,
                                 int64_t output_length, int32_t row_width, int32_t depth);
// PackBits rows with a leading table of 2-byte row counts. Returns the bytes
// written (never more than output_length).
int64_t psd_unpack_rows(const uint8_t* input, int64_t input_length, uint8_t* output,
                        int64_t output_length, int64_t rows);

// True when the merged image carries its own alpha plane after its colour
// planes (for example a grey-alpha or RGBA document without extra-channel
// resources); the alpha is then in bits 24..31 of merged_image.
bool psd_merged_has_alpha(const psd_file_context* context);
