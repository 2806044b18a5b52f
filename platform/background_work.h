// Work that the user-interface thread hands off and never waits for: an
// opening that was cancelled while the file was inside a call that cannot be
// interrupted, or an engine whose worker is still finishing a read. Such a
// thread runs out on its own and frees what it holds; nothing joins it.
//
// The process's end asks WaitForBackgroundWork for a short while and, when
// some of the work is still running (inside a library call that cannot be
// stopped), leaves without it (LeaveWithoutBackgroundWork), since destroying
// the libraries' static state under a running thread would not be safe.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace pw {

// Runs `body` on a thread of its own that is never joined (throws
// std::system_error when no thread can be started). An exception
// escaping `body` ends that thread only; it is written to stderr, never
// rethrown.
void StartBackgroundWork(std::function<void()> body);

// How many pieces of background work are still running.
int RunningBackgroundWork();

// Waits until no background work runs, at most `timeout`; true when none
// runs any more.
bool WaitForBackgroundWork(std::chrono::milliseconds timeout);

// The text of the exception being handled, for a failure the user is shown:
// "内存不足" for an allocation that failed, else the exception's own text (or
// "未知错误"). Call only inside a catch block.
std::string CurrentExceptionText();

// Ends the process with `status` when background work is still running after
// `grace`; returns when there is none. Buffers of stdio are flushed first;
// nothing else runs (no static destructors, no atexit handlers).
void LeaveWithoutBackgroundWork(int status, std::chrono::milliseconds grace);

}  // namespace pw
