// The one thing the command asks of the operating system, written for each platform in its own
// terms: named_semaphore_windows.cpp over Win32, named_semaphore_posix.cpp over POSIX.
#ifndef SEMSIGNAL_NAMED_SEMAPHORE_H
#define SEMSIGNAL_NAMED_SEMAPHORE_H

#ifdef _WIN32
typedef wchar_t name_char; // Win32 names are UTF-16, as the wide command line gives them
#else
typedef char name_char; // POSIX names are bytes
#endif

// Which step failed, as a user of the platform would look it up, and the system's own text for
// the failure, on one line.
struct SignalFailure {
    const char *step;
    char text[512];
};

// Opens the semaphore of that name, or creates it with a count of 0 (and a maximum of 999, where
// the platform keeps one) if nobody holds it; raises its count by one and lets it go. Returns
// false, and fills `failure`, when the system gives no semaphore or will not raise the count.
bool signal_named_semaphore(const name_char *name, SignalFailure *failure);

#endif
