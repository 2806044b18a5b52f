// Plays a metafile in a player process of its own (imagelib/metafile_player):
// the playback libraries' work on hostile records has no bound of its own,
// so each metafile runs under the player's processor and memory limits, and
// playbacks on several threads run side by side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "imagelib/metafile_player/MetafileRequest.h"

namespace metafile {

enum class Playback {
  kPlayed,    // `rows` holds the picture (see MetafileRequest.h)
  kFailed,    // the metafile could not be played within the limits
  kNoPlayer,  // the player program could not be started
  kCancelled, // `cancelled` said so while the player ran; it has been ended
};

// `rows` receives height x RowBytes(width) bytes. `cancelled` is asked
// every few milliseconds while the player runs.
Playback PlayInPlayer(const MetafileRequest& request, const uint8_t* data, uint8_t* rows,
                      const std::function<bool()>& cancelled);

const char* PlayerName();
// The player's path, empty when it is nowhere: beside the running program,
// then where an installation puts it relative to the program
// (PW_METAFILE_PLAYER_FROM_PROGRAM), then where the build put it.
std::string PlayerPath();

}  // namespace metafile
