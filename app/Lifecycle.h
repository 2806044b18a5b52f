// Notes from the window's start-up and shutdown steps ("settings-saved",
// "panel-destroyed CClassifyFiles", ...). Nothing listens in the program;
// tests listen to check the order of the steps.
#pragma once
#include <functional>
#include <string>

namespace pw {

void NotifyLifecycle(const std::string& event);
void SetLifecycleObserver(std::function<void(const std::string&)> observer);

}  // namespace pw
