// Splitting the per-pixel work of an opening over the machine's cores.
#pragma once

#include <cstddef>
#include <atomic>
#include <functional>

namespace pw {

// Threads a picture pass may use: the cores there are, at most eight.
int PictureThreadCount();

// Calls work(begin, end) over shares of [0, count) that together cover it
// once, side by side on up to PictureThreadCount() threads (the calling
// thread takes the first share), each share at least `minShare` long;
// returns when all are done. A thread that cannot be started leaves its
// share to the calling thread.
void ForEachShare(size_t count, size_t minShare,
                  const std::function<void(size_t begin, size_t end)>& work);

// Calls work(chunk, worker) once for every chunk 0..count-1, handed out in
// order to up to `workers` workers as they come free (capped at
// PictureThreadCount(); worker 0 is the calling thread, the others threads
// of their own). The calling thread alone hears `tell(share of chunks
// done)`, after each chunk it did and, with 1, once all are done; false
// from it or from any work stops every worker before its next chunk.
// False when stopped.
bool ForEachChunk(size_t count, int workers, const std::function<bool(size_t chunk, int worker)>& work,
                  const std::function<bool(double)>& tell);

}  // namespace pw
