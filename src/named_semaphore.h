// The one thing the command asks of the operating system, and its two lines, written for each
// platform in its own terms: named_semaphore_windows.cpp over Win32, named_semaphore_posix.cpp
// over POSIX.
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

// Writes TEXT and a line end to standard output.
void write_usage_line(const char *text);

// Writes "STEP failed: TEXT" and a line end to standard error, in the form in which whoever reads
// it there sees the system's text as the system gave it.
void write_failure_line(const SignalFailure &failure);

#endif
