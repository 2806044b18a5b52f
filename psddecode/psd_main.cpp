// The state loop that runs the stages in file order, the 26-byte file
// header, and the release of everything a context owns.
#include "platform/byteorder.h"
#include "psddecode/psd_internal.h"

psd_status psd_stage_header(psd_file_context* c) {
  uint8_t h[26];
  if (psd_stream_read(c, h, 26) != 26) return psd_status_no_data;
  auto be16 = [&](int o) { return pw::LoadBE16(h + o); };
  auto be32 = [&](int o) { return pw::LoadBE32(h + o); };
  if (std::memcmp(h, "8BPS", 4) != 0) return psd_status_file_signature_mismatch;
  if (be16(4) != 1) return psd_status_file_version_mismatch;
  c->channels = be16(12);
  c->first_extra_channel = int16_t(c->channels);
  c->height = int32_t(be32(14));
  c->width = int32_t(be32(18));
  c->depth = be16(22);
  if (c->depth != 1 && c->depth != 8 && c->depth != 16) return psd_status_unsupported_depth;
  c->color_mode = be16(24);
  switch (c->color_mode) {
    case 0: case 1: case 2: case 3: case 4: case 7: case 8: case 9: break;
    default: return psd_status_unsupported_color_mode;
  }
  // Beyond the format's own limits nothing later can be trusted; these sizes
  // bound every buffer the merged image needs.
  if (c->width < 1 || c->width > psd_max_dimension || c->height < 1 ||
      c->height > psd_max_dimension || c->channels < 1 || c->channels > psd_max_channels)
    return psd_status_no_data;
  return 0;
}

psd_status psd_main_loop(psd_file_context* c) {
  if (!c) return psd_status_invalid_state;
  while (c->file_length > 0) {
    psd_status result;
    uint32_t next;
    switch (c->state) {
      case 0:
        result = psd_stage_header(c);
        next = c->load_mode == psd_load_header_only ? 5 : 1;
        break;
      case 1: result = psd_stage_color_data(c); next = 2; break;
      case 2: result = psd_stage_resources(c); next = 3; break;
      case 3: result = psd_stage_layer_mask(c); next = 4; break;
      case 4: result = psd_stage_image_data(c); next = 5; break;
      case 5: return 0;
      default: return psd_status_invalid_state;
    }
    if (result == psd_status_invalid_state) return psd_status_stage_failed_base - int32_t(c->state);
    if (result != 0) return result;
    c->state = next;
  }
  return psd_status_no_data;
}

void psd_release_extra_channels(psd_file_context* c) {
  if (c->extra_channels) {
    for (int32_t i = 0; i < c->extra_channel_count; ++i) {
      psd_free(c->extra_channels[i].plane);
      psd_free(c->extra_channels[i].unicode_name);
    }
  }
  psd_free(c->extra_channels);
  c->extra_channels = nullptr;
  c->extra_channel_count = 0;
}

void psd_release_resources(psd_file_context* c) {
  psd_release_extra_channels(c);
  psd_free(c->layer_group_ids);
  c->layer_group_ids = nullptr;
  psd_free(c->thumb_data);
  c->thumb_data = nullptr;
  psd_free(c->writer_name);
  c->writer_name = nullptr;
  psd_free(c->reader_name);
  c->reader_name = nullptr;
}

psd_status psd_free_context(psd_file_context* c) {
  if (!c) return -1;
  psd_free(c->palette);
  c->palette = nullptr;
  psd_release_resources(c);
  psd_release_layers(c);
  psd_free(c->packed_data);
  c->packed_data = nullptr;
  c->packed_data_size = 0;
  psd_free(c->merged_image);
  c->merged_image = nullptr;
  psd_free(c->channel_data);
  c->channel_data = nullptr;
  c->channel_data_size = 0;
  psd_free(c->read_buffer);
  c->read_buffer = nullptr;
  c->buffer_fill = 0;
  c->buffer_pos = 0;
  return 0;
}
