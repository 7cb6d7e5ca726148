// The steps that a failure line names over POSIX, and the C library's text for a failure.
#ifndef SEMSIGNAL_POSIX_MESSAGES_H
#define SEMSIGNAL_POSIX_MESSAGES_H

#include "named_semaphore.h"

// The C library call that each step is, as a user would look it up. Scripts match these labels,
// so each stays as it is, however the step is made: "sem_wait" is the label of an untimed wait,
// although every wait is a sem_clockwait.
inline const char *const kOpenStep = "sem_open";
inline const char *const kRaiseStep = "sem_post";
inline const char *const kWaitStep = "sem_wait";
inline const char *const kTimedWaitStep = "sem_clockwait";
inline const char *const kRunStep = "execvp";

// Fills `failure` with the step and the C library's text for `error`; returns false.
bool failed(const char *step, int error, Failure *failure);

#endif
