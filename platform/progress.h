// The progress interface that the viewer, the picture operations and the
// tools report through, and that the batch runner receives.
//
// Threads: the batch runner calls SetProgress (and may call SetProgressText)
// from its worker threads, one call at a time but not on the caller's
// thread. An implementation that touches the window must hand the update to
// the UI thread itself (e.g. with CallAfter); a plain implementation only
// needs to tolerate being called from a thread other than its creator's.
#pragma once

#include <cstdint>

class CProgressInterface {
 public:
  virtual ~CProgressInterface() = default;

  virtual void BeginProgress() = 0;
  // `done` of `total` units finished.
  virtual void SetProgress(uint64_t done, uint64_t total) = 0;
  // A printf-style narrow (UTF-8) format and its arguments.
  virtual void SetProgressText(const char* format, ...) __attribute__((format(printf, 2, 3))) = 0;
  virtual void EndProgress() = 0;
};
