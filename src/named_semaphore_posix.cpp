// The named semaphore over POSIX named semaphores: NAME is the semaphore "/NAME".
#include "named_semaphore.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <semaphore.h>
#include <setjmp.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

bool failed(const char *step, int error, SignalFailure *failure)
{
    failure->step = step;
    // Where the C library fails without saying why, it is a name or a semaphore it cannot use.
    snprintf(failure->text, sizeof failure->text, "%s", strerror(error != 0 ? error : EINVAL));
    return false;
}

// The C library keeps the semaphore in the file /dev/shm/sem.NAME and maps it without looking at
// its size. A file there shorter than a semaphore, planted by another user before the name was
// first used, would make the raise count in memory that is not in the file, or die of SIGBUS.
// Where there is no such file to look at, there is nothing to say against it.
bool file_holds_a_whole_semaphore(const char *name)
{
    char file[PATH_MAX];
    snprintf(file, sizeof file, "/dev/shm/sem.%s", name);
    struct stat status;
    return stat(file, &status) != 0 || status.st_size >= static_cast<off_t>(sizeof(sem_t));
}

sigjmp_buf raise_went_wrong;

void give_up_the_raise(int)
{
    siglongjmp(raise_went_wrong, 1);
}

// sem_post, on a file that anyone may have written, truncated or swapped since the check above:
// the raise dies of SIGBUS where the mapped file has lost its page, the C library aborts on
// contents it does not expect, and crafted contents turn its wake-up of waiters into a wait. Each
// of these ends the raise, which then fails as sem_post does on something that is not a
// semaphore. A sound raise takes microseconds; the second allowed it covers the raise alone.
int post_guarded(sem_t *semaphore)
{
    const int signals[] = {SIGBUS, SIGABRT, SIGALRM};
    struct sigaction give_up = {}, before[3];
    give_up.sa_handler = give_up_the_raise;
    sigemptyset(&give_up.sa_mask);
    for (int i = 0; i < 3; i++)
        sigaction(signals[i], &give_up, &before[i]);

    int error;
    if (sigsetjmp(raise_went_wrong, 1) == 0) {
        alarm(1);
        error = sem_post(semaphore) == 0 ? 0 : errno;
    } else {
        error = EINVAL; // what sem_post says of something that is not a semaphore
    }
    alarm(0);
    for (int i = 0; i < 3; i++)
        sigaction(signals[i], &before[i], NULL);
    return error;
}

} // namespace

bool signal_named_semaphore(const char *name, SignalFailure *failure)
{
    // POSIX asks for one leading slash, which is optional on Linux: the C library drops any, so
    // that NAME and /NAME are the same semaphore. It counts them against its limit on the length
    // of a name, though, and then fails without saying why; so they are dropped here first.
    while (*name == '/')
        name++;
    // A new semaphore gets mode 0600, less the umask: its creator's user's alone, as with
    // Windows' default security.
    errno = 0;
    sem_t *semaphore = sem_open(name, O_CREAT, 0600, 0);
    if (semaphore == SEM_FAILED)
        return failed("sem_open", errno, failure);
    int error = file_holds_a_whole_semaphore(name) ? post_guarded(semaphore) : EINVAL;
    sem_close(semaphore);
    return error == 0 || failed("sem_post", error, failure);
}

void write_failure_line(const SignalFailure &failure)
{
    fprintf(stderr, "%s failed: %s\n", failure.step, failure.text);
}
