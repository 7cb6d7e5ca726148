// The named semaphore over POSIX named semaphores: NAME is the semaphore "/NAME".
#include "named_semaphore.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <semaphore.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

namespace
{

bool failed(const char *step, int error, SignalFailure *failure)
{
    failure->step = step;
    snprintf(failure->text, sizeof failure->text, "%s", strerror(error));
    return false;
}

// The C library keeps the semaphore in the file /dev/shm/sem.NAME (leading slashes dropped) and
// maps it without looking at its size. A file there shorter than a semaphore, planted by another
// user before the name was first used or truncated since, would make the raise die of SIGBUS or
// count in memory that is not in the file. Where there is no such file to look at, there is
// nothing to say against it.
bool file_holds_a_whole_semaphore(const char *name)
{
    while (*name == '/')
        name++;
    char file[PATH_MAX];
    snprintf(file, sizeof file, "/dev/shm/sem.%s", name);
    struct stat status;
    return stat(file, &status) != 0 || status.st_size >= static_cast<off_t>(sizeof(sem_t));
}

} // namespace

bool signal_named_semaphore(const char *name, SignalFailure *failure)
{
    // The name goes to the C library as given, which alone judges it. On Linux the leading
    // slash that POSIX asks for is optional (the C library drops any), so NAME is "/NAME".
    // A new semaphore gets mode 0600, less the umask: its creator's user's alone, as with
    // Windows' default security.
    sem_t *semaphore = sem_open(name, O_CREAT, 0600, 0);
    if (semaphore == SEM_FAILED)
        return failed("sem_open", errno, failure);
    int error = 0;
    if (!file_holds_a_whole_semaphore(name))
        error = EINVAL; // what sem_post says of something that is not a semaphore
    else if (sem_post(semaphore) != 0)
        error = errno;
    sem_close(semaphore);
    return error == 0 || failed("sem_post", error, failure);
}

void write_failure_line(const SignalFailure &failure)
{
    fprintf(stderr, "%s failed: %s\n", failure.step, failure.text);
}
