// What the window's promptness tests measure: how long the UI thread kept a
// person waiting, whether it waited on something or computed, leaving out
// only the time a loaded machine kept it from a processor.
#pragma once
#include <chrono>
#include <fstream>
#include <string>

namespace pwtest {

// The longest the UI thread may keep the window from its events, by
// waiting (on a lock, a thread, the disk, a timeout) or by computing. A
// window that waits on work, or does it, for seconds fails this; a busy
// machine still costs the thread the X server's answers, which come when
// the server gets a processor, and some of its own time.
inline constexpr std::chrono::milliseconds kLongestUiWait{1000};

// The time a thread has spent so far ready to run but kept from a processor
// by others (the run queue), as the kernel counts it: the calling thread's
// by default, or another process's thread ("/proc/<pid>/task/<tid>"). Zero
// when the kernel does not say.
inline std::chrono::nanoseconds RunQueueTime(const std::string& task = "/proc/thread-self") {
  unsigned long long ranNs = 0, queuedNs = 0;
  std::ifstream(task + "/schedstat") >> ranNs >> queuedNs;
  return std::chrono::nanoseconds(queuedNs);
}

}  // namespace pwtest
