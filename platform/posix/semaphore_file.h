// What the commands share over POSIX: the semaphore's file, opened, checked and mapped as the C
// library keeps it, the guard of what is done to it, and the text of a failure.
#ifndef SEMSIGNAL_SEMAPHORE_FILE_H
#define SEMSIGNAL_SEMAPHORE_FILE_H

#include "named_semaphore.h"

#include <limits.h>
#include <semaphore.h>
#include <sys/types.h>

// Fills `failure` with the step and the C library's text for `error`; returns false.
bool failed(const char *step, int error, SignalFailure *failure);

// The file in which the C library keeps the semaphore of that name, /dev/shm/sem.NAME, leading
// slashes dropped. False for a name with a slash inside, which sem_open refuses, before it can
// reach any other folder.
bool file_of(const char *name, char (&file)[PATH_MAX]);

// A semaphore mapped from its file.
struct MappedSemaphore {
    sem_t *semaphore;
    bool created;         // by sem_open, whose mapping is let go with sem_close
    bool not_a_semaphore; // what has the name is no semaphore's file; nothing is mapped
    ino_t file;           // which file was mapped, where it was not created
    dev_t file_system;
};

// The semaphore of that name, mapped from the very file that was checked, so that a file swapped
// under the name meanwhile can be neither checked nor raised in its place; or, where there is
// none, the one that it creates, with a count of 0 and mode 0600 less the umask. Returns 0, or
// the error of sem_open for the name.
int map_semaphore(const char *name, MappedSemaphore *mapped);
void let_go(const MappedSemaphore &mapped);

// Whether the words of the mapped file are those of a semaphore of the C library's own.
bool words_of_a_semaphore(const sem_t *semaphore);

// The mapping that a guarded operation works on now.
extern const sem_t *volatile guarded_semaphore;

// Runs `operation(context)` on guarded_semaphore, a file that anyone may have written or
// truncated since it was checked, and returns what it returns, or EINVAL where the file failed it.
// A `timed` operation is given up after a second.
int guarded(bool timed, int (*operation)(void *), void *context);

#endif
