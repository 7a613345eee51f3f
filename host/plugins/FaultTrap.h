#pragma once

namespace pixkey::detail {

// Runs `function(argument)` so that a hardware fault (SIGSEGV, SIGBUS, SIGFPE, SIGILL) raised on
// this thread while it runs returns here instead of ending the process. Returns 0 when the call
// returned, else the signal number. The first use installs the handlers (chaining to whatever was
// installed before, so faults outside a trapped call behave as they did) and gives the calling
// thread an alternate signal stack, so that a fault from a blown stack is still caught. The
// function must not throw. Nested use is allowed. Any thread.
int runTrapped(void (*function)(void *), void *argument);

} // namespace pixkey::detail
