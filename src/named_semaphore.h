// What the two commands ask of the operating system, and their lines, written for each platform
// in its own terms: named_semaphore_windows.cpp over Win32, named_semaphore_posix.cpp over POSIX.
#ifndef SEMSIGNAL_NAMED_SEMAPHORE_H
#define SEMSIGNAL_NAMED_SEMAPHORE_H

#ifdef _WIN32
typedef wchar_t system_char; // Win32 names and texts are UTF-16, as the wide command line has them
#else
typedef char system_char; // POSIX names are bytes
#endif

// Which step failed, as a user of the platform would look it up, and the system's own text for
// the failure, on one line.
struct SignalFailure {
    const char *step;
    system_char text[512];
};

// Opens the semaphore of that name, or creates it with a count of 0 (and a maximum of 999, where
// the platform keeps one) if there is none; raises its count by one and lets it go. Returns false,
// and fills `failure`, when the system gives no semaphore or will not raise the count.
bool signal_named_semaphore(const system_char *name, SignalFailure *failure);

// How a wait ended.
enum class WaitOutcome { taken, timed_out, interrupted, failed };

// Opens the semaphore of that name, or creates it as signal_named_semaphore does; waits until its
// count is above zero and lowers it by one, for at most `milliseconds` where it is given, and for
// good where it is NULL. An interruption (Ctrl-C or Ctrl-Break on Windows; SIGINT, SIGTERM or
// SIGHUP on Linux, unless the caller ignores it) ends the wait at once: a count taken is always
// reported as taken, and `interrupted` means none was. Fills `failure` when it returns `failed`.
WaitOutcome wait_named_semaphore(const system_char *name, const unsigned long *milliseconds,
                                 SignalFailure *failure);

// Ends the process as the interruption that ended the wait ends a program on this platform.
[[noreturn]] void end_as_interrupted();

// Writes TEXT and a line end to standard output.
void write_usage_line(const char *text);

// Writes "STEP failed: TEXT" and a line end to standard error, in the form in which whoever reads
// it there sees the system's text as the system gave it.
void write_failure_line(const SignalFailure &failure);

#endif
