// What the commands ask of the operating system, and their lines, written for each platform in its
// own terms: platform/windows over Win32, platform/posix over POSIX, one file a command, so that
// each command carries only what it calls.
#ifndef SEMSIGNAL_NAMED_SEMAPHORE_H
#define SEMSIGNAL_NAMED_SEMAPHORE_H

#ifdef _WIN32
typedef wchar_t system_char; // Win32 names and texts are UTF-16, as the wide command line has them
#else
typedef char system_char; // POSIX names are bytes
#endif

// Which step failed, as a user of the platform would look it up, and the system's own text for
// the failure, on one line.
struct Failure {
    const char *step;
    system_char text[512];
};

// Opens the semaphore of that name, or creates it with a count of 0 (and a maximum of 999, where
// the platform keeps one) if there is none; raises its count by one and lets it go. Returns false,
// and fills `failure`, when the system gives no semaphore or will not raise the count.
bool signal_named_semaphore(const system_char *name, Failure *failure);

// How a wait ended, where it returns at all.
enum class WaitOutcome { taken, timed_out, failed };

// Opens the semaphore of that name, or creates it as signal_named_semaphore does; waits until its
// count is above zero and lowers it by one, for at most `milliseconds` where it is given, and for
// good where it is NULL. An interruption (Ctrl-C or Ctrl-Break on Windows; on Linux every signal
// that ends a program, unless the caller ignores it) ends the wait at once, and the process as
// the interruption ends a program there, unless a count was taken: a count taken is always
// reported as taken. Fills `failure` when it returns `failed`.
WaitOutcome wait_named_semaphore(const system_char *name, const unsigned long *milliseconds,
                                 Failure *failure);

// How holding a semaphore ended, where it returns at all.
enum class HoldOutcome { ended, not_opened, not_found, not_runnable };

// `arguments` are the command's own after its name: NAME, then COMMAND and its arguments, if any.
// Opens the semaphore NAME, or creates it as wait_named_semaphore does (with the same rights and
// checks), leaves its count as it is, and runs COMMAND while it holds it; `ended` gives COMMAND's
// exit status in `status`. On Windows, where a semaphore vanishes with its last handle, NAME and
// COMMAND are read from the command line as it was typed, COMMAND runs unchanged in a process of
// its own, and Ctrl-C and Ctrl-Break are left to it; on Linux, where a semaphore outlives its
// users, COMMAND runs in this process's place. Without COMMAND, it holds the semaphore until an
// interruption ends the process. `not_found` and `not_runnable`: COMMAND could not be found, or
// could not be run; fills `failure` with why, as for `not_opened`.
HoldOutcome hold_named_semaphore(system_char *const *arguments, unsigned long *status,
                                 Failure *failure);

// Writes TEXT and a line end to standard output.
void write_usage_line(const char *text);

// Writes "STEP failed: TEXT" and a line end to standard error, in the form in which whoever reads
// it there sees the system's text as the system gave it.
void write_failure_line(const Failure &failure);

#endif
