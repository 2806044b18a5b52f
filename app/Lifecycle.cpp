#include "app/Lifecycle.h"

namespace pw {
namespace {
std::function<void(const std::string&)>& Observer() {
  static std::function<void(const std::string&)> observer;
  return observer;
}
}  // namespace

void NotifyLifecycle(const std::string& event) {
  if (Observer()) Observer()(event);
}

void SetLifecycleObserver(std::function<void(const std::string&)> observer) {
  Observer() = std::move(observer);
}

}  // namespace pw
