// The window a placeable 16-bit metafile draws in, made explicit for the
// playback library. Left to itself that library counts logical units from
// the window origin it was given (0,0 when the file sets none), one to one
// onto the frame, and ignores the window's extent and the mapping modes'
// meaning. Here the records are given an anisotropic mapping whose viewport
// is the frame (in the frame's units), and every record that sets or
// changes the window or the mapping mode is replaced by the absolute window
// it leaves in force:
// - the placeable frame is the window until the file sets its own;
// - MM_ANISOTROPIC (and no mode at all, as a player maps a placeable file)
//   stretches the window over the frame;
// - MM_ISOTROPIC keeps the window's aspect: the window grows in its short
//   direction to the frame's shape, the drawing centred in it;
// - MM_TEXT and the fixed modes ignore the window's extent: one logical unit
//   is one unit of the frame.
// Viewport records of the file are passed on as they are.
#pragma once

#include <cstdint>
#include <vector>

// `bytes`: the placeable header, the metafile header and the records, the
// records already checked to lie inside the bytes up to the end record.
// Returns false (bytes unchanged) when the result would not fit a metafile.
bool MakeWindowExplicit(std::vector<uint8_t>* bytes);
