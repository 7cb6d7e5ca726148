// What the commands share over Win32: the system's own text for a failure.
#ifndef SEMSIGNAL_SYSTEM_TEXT_H
#define SEMSIGNAL_SYSTEM_TEXT_H

#include "named_semaphore.h"

#include <windows.h>

// Fills `failure` with the step and the system's message for `error`, without its line break
// (`error N` where there is none); returns false.
bool failed(const char *step, DWORD error, SignalFailure *failure);

#endif
