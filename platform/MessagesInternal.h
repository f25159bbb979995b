#pragma once
// Between the platform's own files only: not for components.

#include <functional>

#include "platform/Messages.h"

namespace pelicore::win::detail {

// Messages posted to windows of the calling thread and not yet delivered.
int PendingMessagesOfThisThread();

// Runs Task on the window's thread while it dispatches, only if the window
// still exists then. Thread-safe. False when the window is already gone.
bool PostWindowTask(WindowHandle Window, std::function<void()> Task);

}  // namespace pelicore::win::detail
