// Camera identification: decides whether the context's stream holds a camera
// raw file and fills in everything the loader and the pipeline need.
#pragma once

#include <cstdint>

#include "rawdecode/raw_context.h"

// Outcome in raw_image_count (0: not raw), raw_loader and the per-file
// fields. Never fails except by running out of memory (raw_failure).
void probe_raw_file(raw_decode_context* ctx);

// The per-camera corrections of files that are not DNG (geometry, pattern,
// colours, levels, multipliers, byte order, loader). `head` is the first 32
// bytes of the file, `file_size` its size.
void apply_camera_settings(raw_decode_context* ctx, const uint8_t* head, int64_t file_size);

// The loader chosen for Kodak DC120 files with JPEG data, which this decoder
// cannot read; identification refuses it with its message.
void kodak_jpeg_stub(raw_decode_context* ctx);

// Installs the routines the container parsers chose by name.
void install_chosen_routines(raw_decode_context* ctx);
