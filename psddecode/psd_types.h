// Records of the PSD decoder: the per-file context and everything it owns.
// Plain records, zeroed on allocation; psd_free_context releases what they
// hold. Field order follows the document's own order of sections.
#pragma once

#include <cstddef>
#include <cstdint>

typedef int32_t psd_status;
typedef uint32_t psd_argb;  // alpha 24..31, red 16..23, green 8..15, blue 0..7
typedef uint8_t psd_bool;

enum : psd_status {
  psd_status_done = 0,
  psd_status_invalid_state = -3,
  psd_status_malloc_failed = -4,
  psd_status_no_data = -5,
  psd_status_unknown_color_space = -15,
  psd_status_stage_failed_base = -10,  // -10 - state for a stage's -3
  psd_status_unsupported_depth = -18,
  psd_status_unsupported_color_mode = -19,
  psd_status_unsupported_compression = -20,
  psd_status_invalid_blending_channels = -56,
  psd_status_inflate_failed = -101,
  psd_status_file_signature_mismatch = -200,
  psd_status_file_version_mismatch = -201,
  psd_status_resource_signature_mismatch = -400,
  psd_status_blend_signature_mismatch = -500,
  psd_status_levels_version_mismatch = -503,
  psd_status_levels_extra_signature_mismatch = -505,
  psd_status_levels_length_mismatch = -506,
  psd_status_levels_extra_version_mismatch = -507,
  psd_status_curves_version_mismatch = -508,
  psd_status_curves_extra_signature_mismatch = -509,
  psd_status_curves_extra_version_mismatch = -510,
  psd_status_hue_saturation_version_mismatch = -511,
  psd_status_selective_color_version_mismatch = -512,
  psd_status_channel_mixer_version_mismatch = -513,
  psd_status_photo_filter_version_mismatch = -514,
  psd_status_gradient_map_version_mismatch = -515,
  psd_status_effects_version_mismatch = -516,
  psd_status_effects_signature_mismatch = -517,
  psd_status_unknown_effect_key = -518,
  psd_status_common_state_version_mismatch = -519,
  psd_status_solid_fill_version_mismatch = -525,
  psd_status_gradient_fill_version_mismatch = -526,
  psd_status_additional_signature_mismatch = -528,
  psd_status_divider_signature_mismatch = -529,
  psd_status_pattern_fill_version_mismatch = -530,
  psd_status_pattern_version_mismatch = -531,
};

enum psd_load_mode : int32_t {
  psd_load_everything = 0,
  psd_load_header_only = 1,
  psd_load_layers = 2,
  psd_load_merged_and_extra_channels = 3,
  psd_load_thumbnail = 4,
  psd_load_exif_and_xmp = 5,
};

enum psd_color_mode : uint32_t {
  psd_color_bitmap = 0,
  psd_color_grayscale = 1,
  psd_color_indexed = 2,
  psd_color_rgb = 3,
  psd_color_cmyk = 4,
  psd_color_multichannel = 7,
  psd_color_duotone = 8,
  psd_color_lab = 9,
};

enum psd_blend_mode : int32_t {
  psd_blend_normal = 0, psd_blend_dissolve, psd_blend_darken, psd_blend_multiply,
  psd_blend_color_burn, psd_blend_linear_burn, psd_blend_lighten, psd_blend_screen,
  psd_blend_color_dodge, psd_blend_linear_dodge, psd_blend_overlay, psd_blend_soft_light,
  psd_blend_hard_light, psd_blend_vivid_light, psd_blend_linear_light, psd_blend_pin_light,
  psd_blend_hard_mix, psd_blend_difference, psd_blend_exclusion, psd_blend_hue,
  psd_blend_saturation, psd_blend_color, psd_blend_luminosity, psd_blend_pass_through,
};

enum psd_layer_kind : int32_t {
  psd_layer_normal = 0, psd_layer_hidden = 1 /* section divider */, psd_layer_folder = 2,
  psd_layer_solid_color = 3, psd_layer_gradient_fill = 4,
  psd_layer_levels = 6, psd_layer_curves = 7, psd_layer_brightness_contrast = 8,
  psd_layer_color_balance = 9, psd_layer_hue_saturation = 10, psd_layer_selective_color = 11,
  psd_layer_threshold = 12, psd_layer_invert = 13, psd_layer_posterize = 14,
  psd_layer_channel_mixer = 15, psd_layer_gradient_map = 16, psd_layer_photo_filter = 17,
  psd_layer_pattern_fill = 19,
};

enum psd_adjustment_type : int32_t {
  psd_adjust_levels = 1, psd_adjust_curves = 2, psd_adjust_brightness_contrast = 3,
  psd_adjust_color_balance = 4, psd_adjust_hue_saturation = 5, psd_adjust_selective_color = 6,
  psd_adjust_threshold = 7, psd_adjust_invert = 8, psd_adjust_posterize = 9,
  psd_adjust_channel_mixer = 10, psd_adjust_gradient_map = 11, psd_adjust_photo_filter = 12,
  psd_adjust_type_tool = 13, psd_adjust_lrfx = 15, psd_adjust_lfx2 = 16,
  psd_adjust_solid_fill = 17, psd_adjust_gradient_fill = 18, psd_adjust_pattern_fill = 19,
};

enum { psd_max_adjustments = 20, psd_max_curve_points = 19 };

struct psd_stream_callbacks {
  int64_t (*size)(void* stream);
  int32_t (*seek)(void* stream, int32_t offset, int32_t origin);
  size_t (*read)(void* stream, void* destination, size_t element_size, size_t count);
};

struct psd_extra_channel {
  char name[256];
  int32_t unicode_name_length;
  uint16_t* unicode_name;
  int32_t channel_id;
  uint8_t* plane;
};

struct psd_channel_info {
  int16_t id;
  int32_t length;
  psd_bool blend_restricted;
};

struct psd_adjustment {
  int32_t type;
  void* record;
};

// ---- descriptor values -------------------------------------------------

struct psd_color_stop {
  int32_t location;
  int32_t midpoint;
  psd_argb color;
  int32_t kind;  // 0 foreground, 1 background, 2 user colour
};

struct psd_transparency_stop {
  int32_t location;
  int32_t midpoint;
  int16_t opacity;
};

struct psd_gradient {
  int32_t interpolation;
  int32_t name_length;
  uint16_t* name;
  int16_t color_stop_count;
  psd_color_stop* color_stops;
  int16_t transparency_stop_count;
  psd_transparency_stop* transparency_stops;
};

struct psd_pattern_ref {
  int32_t name_length;
  uint16_t* name;
  char identifier[256];
};

typedef uint8_t psd_contour[256];

// ---- fill, adjustment and type records ---------------------------------

struct psd_levels_entry {
  int16_t input_floor, input_ceiling, output_floor, output_ceiling;
  float gamma;
};

struct psd_levels {
  psd_levels_entry entries[29];
  uint16_t extra_count;
  psd_levels_entry* extra_entries;
};

struct psd_curve {
  int16_t channel_index;
  int16_t point_count;
  int16_t output_value[psd_max_curve_points];
  int16_t input_value[psd_max_curve_points];
};

struct psd_curves {
  uint16_t curve_count;
  psd_curve* curves;
};

struct psd_brightness_contrast {
  int16_t brightness, contrast, mean_value;
  psd_bool lab_only;
};

struct psd_color_balance {
  int16_t cyan_red[3], magenta_green[3], yellow_blue[3];  // shadows, midtones, highlights
  psd_bool preserve_luminosity;
};

struct psd_hue_saturation {
  psd_bool colorize;
  int16_t colorization_hue, colorization_saturation, colorization_lightness;
  int16_t master_hue, master_saturation, master_lightness;
  int16_t ranges[24];
  int16_t settings[18];
};

struct psd_selective_color {
  int16_t correction_method;
  int16_t cyan[10], magenta[10], yellow[10], black[10];
};

struct psd_threshold { int16_t level; };
struct psd_posterize { int16_t levels; };

struct psd_channel_mixer {
  psd_bool monochrome;
  int16_t values[20];
};

struct psd_gradient_map {
  psd_bool reversed, dithered;
  int32_t name_length;
  uint16_t* name;
  int16_t color_stop_count;
  psd_color_stop* color_stops;
  int16_t transparency_stop_count;
  psd_transparency_stop* transparency_stops;
  int16_t expansion_count;
  int16_t interpolation, length, mode;
  int32_t random_seed;
  int16_t show_transparency, use_vector_color;
  int32_t roughness;
  int16_t color_model;
  psd_argb minimum_color, maximum_color;
};

struct psd_photo_filter {
  int32_t x, y, z;
  int32_t density;
  psd_bool preserve_luminosity;
};

struct psd_solid_fill {
  uint32_t class_key;
  psd_argb color;
};

struct psd_gradient_fill {
  uint32_t class_key;
  double angle;
  int32_t gradient_type;
  int32_t scale;
  psd_bool reverse, dither, align;
  psd_gradient gradient;
};

struct psd_pattern_fill {
  uint32_t class_key;
  psd_pattern_ref pattern;
  int32_t scale;
};

struct psd_type_face {
  int16_t mark;
  int32_t font_type;
  char font_name[256];
  char font_family_name[256];
  char font_style_name[256];
  int16_t script;
  int32_t design_axes_count;
  int32_t* design_vector;
};

struct psd_type_style {
  int16_t mark, face_mark;
  int32_t size, tracking, kerning, leading, base_shift;
  psd_bool auto_kern, rotate;
};

struct psd_type_line {
  int32_t char_count;
  int16_t orientation, alignment, actual_char, style;
};

struct psd_type_tool {
  double transform_xx, transform_xy, transform_yx, transform_yy, transform_tx, transform_ty;
  int16_t face_count;
  psd_type_face* faces;
  int16_t style_count;
  psd_type_style* styles;
  int16_t type;
  int32_t scaling_factor, character_count, horz_place, vert_place, select_start, select_end;
  int16_t line_count;
  psd_type_line* lines;
  psd_argb color;
  psd_bool anti_alias;
};

// ---- layer effects -----------------------------------------------------

struct psd_shadow_effect {
  psd_bool enabled;
  int32_t blend_mode;
  psd_argb color, native_color;
  int32_t opacity, angle;
  psd_bool use_global_light;
  int32_t distance, spread, size;
  psd_contour contour;
  psd_bool anti_aliased;
  int32_t noise;
  psd_bool layer_conceals;
};

struct psd_glow_effect {
  psd_bool enabled;
  int32_t blend_mode, opacity, noise;
  psd_bool uses_gradient;
  psd_argb color, native_color;
  psd_gradient gradient;
  int32_t technique, spread, size;
  psd_contour contour;
  psd_bool anti_aliased;
  int32_t range, jitter;
};

struct psd_inner_glow_effect {
  psd_bool enabled;
  int32_t blend_mode, opacity, noise;
  psd_bool uses_gradient;
  psd_argb color, native_color;
  psd_gradient gradient;
  int32_t technique, source, spread, size;
  psd_contour contour;
  psd_bool anti_aliased;
  int32_t range, jitter;
};

struct psd_bevel_effect {
  psd_bool enabled;
  int32_t style, technique, depth, direction, size, soften, angle;
  psd_bool use_global_light;
  int32_t altitude;
  psd_contour gloss_contour;
  psd_bool anti_aliased_gloss;
  int32_t highlight_blend_mode;
  psd_argb highlight_color, highlight_native_color;
  int32_t highlight_opacity;
  int32_t shadow_blend_mode;
  psd_argb shadow_color, shadow_native_color;
  int32_t shadow_opacity;
  psd_bool use_shape;
  psd_contour contour;
  psd_bool anti_aliased;
  int32_t range;
  psd_bool use_texture;
  psd_pattern_ref texture_pattern;
  int32_t texture_scale, texture_depth;
  psd_bool invert_texture, align_with_layer;
  int32_t phase_x, phase_y;
};

struct psd_satin_effect {
  psd_bool enabled;
  int32_t blend_mode;
  psd_argb color;
  int32_t opacity, angle, distance, size;
  psd_contour contour;
  psd_bool anti_aliased, invert;
};

struct psd_color_fill_effect {
  psd_bool enabled;
  int32_t blend_mode;
  psd_argb color;
  int32_t opacity;
  psd_argb native_color;
};

struct psd_gradient_overlay_effect {
  psd_bool enabled;
  int32_t blend_mode, opacity;
  psd_gradient gradient;
  psd_bool reverse;
  int32_t gradient_type;
  psd_bool align;
  int32_t angle, scale, offset_x, offset_y;
};

struct psd_pattern_overlay_effect {
  psd_bool enabled;
  int32_t blend_mode, opacity, scale;
  psd_bool align;
  psd_pattern_ref pattern;
  int32_t phase_x, phase_y;
};

struct psd_stroke_effect {
  psd_bool enabled;
  int32_t size, position, blend_mode, opacity, fill_type;
  psd_argb color;
  psd_gradient gradient;
  psd_bool reverse;
  int32_t gradient_type;
  psd_bool align;
  int32_t angle, gradient_scale, offset_x, offset_y;
  psd_pattern_ref pattern;
  int32_t pattern_scale;
  psd_bool linked;
  int32_t phase_x, phase_y;
};

enum psd_effect_index {
  psd_effect_drop_shadow, psd_effect_inner_shadow, psd_effect_outer_glow, psd_effect_inner_glow,
  psd_effect_bevel, psd_effect_satin, psd_effect_color_overlay, psd_effect_gradient_overlay,
  psd_effect_pattern_overlay, psd_effect_stroke, psd_effect_kinds,
};

struct psd_layer_effects {
  int16_t effect_count;
  psd_bool visible;
  psd_shadow_effect drop_shadow;
  psd_shadow_effect inner_shadow;
  psd_glow_effect outer_glow;
  psd_inner_glow_effect inner_glow;
  psd_bevel_effect bevel;
  psd_satin_effect satin;
  psd_color_fill_effect color_overlay;
  psd_gradient_overlay_effect gradient_overlay;
  psd_pattern_overlay_effect pattern_overlay;
  psd_stroke_effect stroke;
  psd_bool present[psd_effect_kinds];
  psd_bool read[psd_effect_kinds];
};

// ---- layers and patterns -----------------------------------------------

struct psd_layer_record {
  int32_t layer_kind;
  int32_t top, left, bottom, right;
  int32_t width, height;
  int16_t channel_count;
  psd_channel_info* channel_infos;
  int32_t blend_mode;
  uint8_t opacity;
  psd_bool clipping, transparency_protected, visible, obsolete_flag, pixels_irrelevant;
  int32_t mask_top, mask_left, mask_bottom, mask_right, mask_width, mask_height;
  uint8_t mask_default_color;
  psd_bool mask_relative, mask_disabled, mask_invert;
  uint8_t* mask_pixels;
  uint16_t gray_source_black, gray_source_white, gray_dest_black, gray_dest_white;
  int32_t blend_range_count;
  uint16_t* source_black;
  uint16_t* source_white;
  uint16_t* dest_black;
  uint16_t* dest_white;
  char name[256];
  psd_argb* pixels;
  int32_t adjustment_count;
  psd_adjustment adjustments[psd_max_adjustments];
  psd_bool is_adjustment;
  uint8_t fill_opacity;
  int32_t unicode_name_length;
  uint16_t* unicode_name;
  int32_t name_source, layer_id, layer_version;
  psd_bool blend_clipped, blend_interior, knockout;
  psd_bool protect_transparency, protect_composite, protect_position;
  psd_argb sheet_color;
  int32_t reference_x, reference_y;
  psd_bool transparency_shapes, mask_as_global, vector_mask_as_global;
  int32_t divider_type, divider_blend_mode;
  psd_layer_record* group;
};

struct psd_pattern {
  int32_t image_mode;
  int16_t height, width;
  int32_t name_length;
  uint16_t* name;
  char identifier[256];
  int32_t version;
  int16_t top, left, bottom, right;
  int32_t channels_read;
  psd_argb* pixels;
};

// ---- the context -------------------------------------------------------

enum { psd_read_buffer_size = 4096 };

struct psd_file_context {
  // stream
  void* stream;
  psd_stream_callbacks callbacks;
  uint8_t* read_buffer;
  int32_t buffer_fill;
  int32_t buffer_pos;
  int32_t file_length;
  int32_t consumed;
  int32_t read_end;  // a bounded reader's end (psd_read_window); 0: the file's end
  uint32_t state;
  int32_t load_mode;
  // header
  int32_t width, height;
  uint16_t channels;
  uint16_t depth;
  uint32_t color_mode;
  // colour-mode data
  int32_t palette_count;
  psd_argb* palette;
  // image resources
  char caption[256];
  psd_bool has_resolution;
  float h_resolution, v_resolution;
  int16_t h_resolution_unit, width_unit, v_resolution_unit, height_unit;
  psd_bool has_display_info;
  psd_argb display_color;
  int16_t display_opacity;
  uint8_t display_kind;
  psd_bool has_extra_channels;
  int16_t extra_channel_count;
  int16_t first_extra_channel;
  psd_extra_channel* extra_channels;
  int16_t target_layer;
  psd_bool has_layer_groups;
  int32_t layer_group_count;
  int16_t* layer_group_ids;
  psd_bool has_thumbnail;
  int32_t thumb_format, thumb_width, thumb_height, thumb_row_bytes, thumb_total_size,
      thumb_compressed_size;
  int16_t thumb_bits_per_pixel, thumb_planes;
  uint8_t* thumb_data;
  psd_bool has_version_info;
  int32_t version;
  psd_bool has_real_merged_data;
  int32_t writer_name_length;
  uint16_t* writer_name;
  int32_t reader_name_length;
  uint16_t* reader_name;
  int32_t file_version;
  psd_bool rights_flag;
  int32_t global_angle, global_altitude;
  psd_bool effects_visible;
  psd_bool has_index_color_count;
  int16_t index_color_count;
  psd_bool has_transparent_index;
  int16_t transparent_index;
  // layers and patterns
  int16_t layer_count;
  psd_layer_record* layers;
  psd_argb mask_overlay_color;
  int16_t mask_opacity;
  uint8_t mask_kind;
  int32_t pattern_capacity;
  int32_t pattern_count;
  psd_pattern* patterns;
  // pixels
  psd_argb* merged_image;
  uint8_t* channel_data;
  int64_t channel_data_size;
  uint8_t* packed_data;
  int64_t packed_data_size;
  int32_t plane_size;
  int32_t plane_stride;
  // guards against damaged files
  int32_t descriptor_depth;
};
