// The batch runner the tools hand their per-file work to.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/file_list.h"
#include "platform/progress.h"

// The per-file worker: (source path, destination path, index) -> 0 on
// success, -1 on failure. It has no context argument; a tool's options reach
// it through globals set before the run.
using BatchFileCallback = int (*)(const std::wstring& source, const std::wstring& destination,
                                  const uint64_t& index);

// Calls `worker` exactly once for every index i of `sources`, with
// sources[i], destinations[i] and i, running at most `threadCount` workers at
// once (a count below 1 runs one) on threads other than the caller's.
// Returns after every call has returned.
//
// - A worker that returns non-zero or throws counts as a failure; the run
//   goes on. The result is the number of failures (0 when all succeeded).
// - Empty lists are legal: no call, result 0.
// - Lists of different lengths are a caller's mistake: nothing runs, result -1.
// - Progress: when `progress` is not null it gets SetProgress(0, n) on the
//   calling thread before the first worker starts and SetProgress(done, n)
//   from the worker threads as each worker finishes (never two at once).
//   BeginProgress/EndProgress stay the caller's.
// - A write beyond the process's file-size limit fails (EFBIG) for the file
//   being written instead of killing the process: the runner ignores
//   SIGXFSZ (see pw::IgnoreFileSizeSignal).
// - While it waits, the calling thread runs the pump installed with
//   pw::SetBatchWaitPump every few tens of milliseconds (a window uses it
//   to keep painting); without a pump it just waits.
int ProcessVector(const FileList& sources, const FileList& destinations, BatchFileCallback worker,
                  CProgressInterface* progress, const int& threadCount);

namespace pw {

// Installs the function ProcessVector calls repeatedly on the waiting
// thread; an empty function removes it. The pump must not start another
// run on the same thread.
void SetBatchWaitPump(std::function<void()> pump);

// Ignores SIGXFSZ for the whole process, so a write past the file-size limit
// fails with EFBIG and the writer cleans up. Idempotent.
void IgnoreFileSizeSignal();

// True on the threads ProcessVector runs its workers on. The runner already
// keeps as many workers busy as it was given threads, so work a worker starts
// (decoding a camera RAW file, for one) asks this and stays on the worker's
// own thread instead of starting threads of its own.
bool InBatchWorker();

// How often the pump runs while a batch is going.
inline constexpr int kBatchPumpIntervalMs = 30;

}  // namespace pw
