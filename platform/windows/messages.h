// The steps that a failure line names over Win32, and the system's text for a failure.
#ifndef SEMSIGNAL_WINDOWS_MESSAGES_H
#define SEMSIGNAL_WINDOWS_MESSAGES_H

#include "named_semaphore.h"

#include <windows.h>

// The call that each step is, as a user would look it up. Scripts match these labels, so each
// stays as it is, however the step is made: "CreateSemaphoreA" is the label of the open, which
// was made through CreateSemaphoreA once and is made through CreateSemaphoreExW now.
inline const char *const kOpenStep = "CreateSemaphoreA";
inline const char *const kRaiseStep = "ReleaseSemaphore";
inline const char *const kWaitStep = "WaitForMultipleObjects";
inline const char *const kRunStep = "CreateProcessW";
inline const char *const kReadLineStep = "GetCommandLineW"; // a line no known runtime reads so

// Fills `failure` with the step and the system's message for `error`, without its line break
// (`error N` where there is none); returns false.
bool failed(const char *step, DWORD error, Failure *failure);

#endif
