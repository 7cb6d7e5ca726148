// A named semaphore of the C library's, opened and checked so that no file that anyone put under
// its name, or changed since, can make an operation on it wait, die or lie.
#ifndef SEMSIGNAL_CHECKED_SEMAPHORE_H
#define SEMSIGNAL_CHECKED_SEMAPHORE_H

#include <limits.h>
#include <semaphore.h>
#include <sys/types.h>

struct CheckedSemaphore {
    const char *name;    // as given, leading slashes dropped
    char file[PATH_MAX]; // where the C library keeps it: /dev/shm/sem.NAME
    sem_t *mapping;      // of that very file, as it was checked
    bool made_here;      // by sem_open, in this process, whose mapping sem_close lets go
    dev_t device;        // which file was mapped, where it was opened rather than made here
    ino_t inode;
};

enum class Opening { opened, refused, damaged };

// Opens the semaphore of that name and maps it from the very file that was checked, so that a
// file swapped under the name meanwhile can be neither checked nor used in its place; or, where
// there is none, creates it with a count of 0 and mode 0600 less the umask; where the name was
// removed or replaced while it was opened, opens what it names now. `refused`: sem_open's error
// for the name is in `error` (EAGAIN where the name moved on at every try); `damaged`: what has
// the name is no semaphore's file, and nothing is held.
Opening open_checked_semaphore(const char *name, CheckedSemaphore *semaphore, int *error);

// Whether the words of the mapped file are those of a semaphore of the C library's own.
bool reads_as_a_semaphore(const CheckedSemaphore &semaphore);

// Runs `operation(semaphore, context)` under a guard, since anyone may have written or truncated
// the file since it was checked, after a look at its words; returns what it returns, or EINVAL
// where the file failed the look or the operation. Without `operation`, only the look. The
// operation may map another semaphore into `semaphore`: the guard watches that one.
int guarded(CheckedSemaphore *semaphore,
            int (*operation)(CheckedSemaphore *semaphore, void *context), void *context);

// The same, for an operation that takes microseconds: it is given up after a second.
int guarded_for_a_second(CheckedSemaphore *semaphore,
                         int (*operation)(CheckedSemaphore *semaphore, void *context),
                         void *context);

void close_checked_semaphore(const CheckedSemaphore &semaphore);

#endif
