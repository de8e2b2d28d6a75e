#pragma once

#include <functional>

// Ending the program at once, from any handler. Tests replace the ending so that a handler
// that ends the program can be driven inside a test run.
namespace program {

void End();

// While set, End() calls this instead of ending the event loop. Empty: the normal ending.
void setEndHook(std::function<void()> hook);

} // namespace program
