#pragma once

#include <functional>

namespace ferrytide::menu {

// Runs `work` on the main thread (the application object's), after what was posted before it.
// Callable from any thread while the application object exists.
void postToMainThread(std::function<void()> work);

}  // namespace ferrytide::menu
