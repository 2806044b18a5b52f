#include "platform/background_work.h"

#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <new>
#include <thread>

namespace pw {
namespace {

struct Registry {
  std::mutex mutex;
  std::condition_variable idle;
  int running = 0;
};

// Never destroyed: a thread still running at the process's end may finish
// while the static destructors run.
Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

}  // namespace

std::string CurrentExceptionText() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return "内存不足";
  } catch (const std::exception& e) {
    return e.what()[0] ? e.what() : "未知错误";
  } catch (...) {
    return "未知错误";
  }
}

void StartBackgroundWork(std::function<void()> body) {
  Registry& registry = TheRegistry();
  {
    std::lock_guard<std::mutex> lock(registry.mutex);
    ++registry.running;
  }
  auto run = [&registry, body = std::move(body)]() mutable {
    try {
      body();
    } catch (...) {
      std::fprintf(stderr, "pixelwharf: background work failed: %s\n",
                   CurrentExceptionText().c_str());
    }
    // What the body held goes before the count says it is done.
    try {
      body = nullptr;
    } catch (...) {
    }
    std::lock_guard<std::mutex> lock(registry.mutex);
    --registry.running;
    registry.idle.notify_all();
  };
  try {
    std::thread(std::move(run)).detach();
  } catch (...) {
    // No thread to be had: the caller hears of it.
    std::lock_guard<std::mutex> lock(registry.mutex);
    --registry.running;
    throw;
  }
}

int RunningBackgroundWork() {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  return registry.running;
}

bool WaitForBackgroundWork(std::chrono::milliseconds timeout) {
  Registry& registry = TheRegistry();
  std::unique_lock<std::mutex> lock(registry.mutex);
  return registry.idle.wait_for(lock, timeout, [&] { return registry.running == 0; });
}

void LeaveWithoutBackgroundWork(int status, std::chrono::milliseconds grace) {
  if (WaitForBackgroundWork(grace)) return;
  std::fflush(nullptr);
  _exit(status);
}

}  // namespace pw
