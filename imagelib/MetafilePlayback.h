// Plays a metafile in a player process of its own (imagelib/metafile_player):
// the playback libraries' work on hostile records has no bound of its own,
// so each metafile runs under the player's processor and memory limits, and
// playbacks on several threads run side by side.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imagelib/metafile_player/MetafileRequest.h"

namespace metafile {

enum class Playback {
  kPlayed,    // `rows` holds the picture (see MetafileRequest.h)
  kFailed,    // the metafile could not be played within the limits
  kNoPlayer,  // the player program could not be started
};

// `rows` receives height x RowBytes(width) bytes.
Playback PlayInPlayer(const MetafileRequest& request, const uint8_t* data, uint8_t* rows);

// Where the player is looked for: beside the running program, then where
// the build put it.
const char* PlayerName();

}  // namespace metafile
