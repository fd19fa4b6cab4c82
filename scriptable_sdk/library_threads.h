// The threads the library starts to call back. They are joinable on demand, and never joined or
// stopped at process exit: callbacks may still arrive while the bridge exits.
#pragma once

#include <functional>

namespace electron_morvane::scriptable_sdk {

void StartLibraryThread(std::function<void()> work);
// Returns once every thread started so far, and any they started meanwhile, has ended.
void JoinLibraryThreads();

}  // namespace electron_morvane::scriptable_sdk
