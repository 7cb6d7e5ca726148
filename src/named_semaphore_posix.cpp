// The named semaphore over POSIX named semaphores: NAME is the semaphore "/NAME".
#include "named_semaphore.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <semaphore.h>
#include <setjmp.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

namespace
{

bool failed(const char *step, int error, SignalFailure *failure)
{
    failure->step = step;
    // Where the C library fails without saying why, it is a name or a semaphore it cannot use.
    snprintf(failure->text, sizeof failure->text, "%s", strerror(error != 0 ? error : EINVAL));
    return false;
}

// sem_open, neither waiting nor dying on the way. Another user's lease on the semaphore's file
// makes a plain open wait until the lease is broken (45 s by default); the C library passes
// O_NONBLOCK on to open, which then fails at once instead. A new semaphore is written to a
// temporary file first, which a file size limit turns into death by SIGXFSZ with the file left
// behind; with SIGXFSZ ignored for the call, the write fails and the C library removes its
// file and says why.
sem_t *open_without_waiting(const char *name)
{
    struct sigaction ignore = {}, before;
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, &before);
    // A new semaphore gets mode 0600, less the umask: its creator's user's alone, as with
    // Windows' default security.
    errno = 0;
    sem_t *semaphore = sem_open(name, O_CREAT | O_NONBLOCK, 0600, 0);
    sigaction(SIGXFSZ, &before, NULL);
    return semaphore;
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

// The two words of the file that sem_post reads before it raises the count, as the C library
// lays them out (struct new_sem in its nptl sources, where atomics are 64 bits wide): a 64-bit
// word whose low half is the count and whose high half the number of waiters, then the flags of
// its futex calls, 0 or 128 (FUTEX_PRIVATE_FLAG) in every semaphore it makes. A count above
// SEM_VALUE_MAX would carry into the waiters; other flags turn the wake-up of a waiter into a
// wait or into another futex operation. A file that shows either is not a semaphore.
static_assert(sizeof(sem_t) == 32 && sizeof(void *) == 8, "the layout of 64-bit semaphores");
bool words_of_a_semaphore(const sem_t *semaphore)
{
    uint64_t count_and_waiters;
    uint32_t futex_flags;
    memcpy(&count_and_waiters, semaphore, sizeof count_and_waiters);
    memcpy(&futex_flags, reinterpret_cast<const char *>(semaphore) + 8, sizeof futex_flags);
    return (count_and_waiters & UINT32_MAX) <= SEM_VALUE_MAX &&
           (futex_flags == 0 || futex_flags == 128);
}

sigjmp_buf raise_went_wrong;

void give_up_the_raise(int)
{
    siglongjmp(raise_went_wrong, 1);
}

// The raise, on a file that anyone may have written, truncated or swapped since the checks
// before: its words are checked first, and the rest is guarded. Reading or raising dies of
// SIGBUS where the mapped file has lost its page, the C library aborts on contents it does not
// expect, and contents changed under it can turn its wake-up of waiters into a wait. Each of
// these ends the raise, which then fails as sem_post does on something that is not a semaphore.
// A sound raise takes microseconds; the second allowed it is measured by a timer of the guard's
// own, so that the caller's alarm and SIGALRM stay the caller's. The guard's signals are
// unblocked for the raise, since a blocked SIGBUS kills and a blocked timer never fires.
// Handlers, timer and signal mask are left as they were found.
int post_guarded(sem_t *semaphore)
{
    const int time_up = SIGRTMIN;
    const int signals[] = {SIGBUS, SIGABRT, time_up};
    struct sigaction give_up = {}, before[3];
    give_up.sa_handler = give_up_the_raise;
    sigemptyset(&give_up.sa_mask);
    sigset_t guarded, callers;
    sigemptyset(&guarded);
    for (int i = 0; i < 3; i++) {
        sigaction(signals[i], &give_up, &before[i]);
        sigaddset(&guarded, signals[i]);
    }
    sigevent expiry = {};
    expiry.sigev_notify = SIGEV_SIGNAL;
    expiry.sigev_signo = time_up;
    timer_t timer;
    const bool timed = timer_create(CLOCK_MONOTONIC, &expiry, &timer) == 0;
    const itimerspec one_second = {{0, 0}, {1, 0}};
    sigprocmask(SIG_BLOCK, NULL, &callers);

    int error;
    if (sigsetjmp(raise_went_wrong, 0) == 0) {
        sigprocmask(SIG_UNBLOCK, &guarded, NULL);
        if (timed)
            timer_settime(timer, 0, &one_second, NULL);
        if (!words_of_a_semaphore(semaphore))
            error = EINVAL; // what sem_post says of something that is not a semaphore
        else
            error = sem_post(semaphore) == 0 ? 0 : errno;
    } else {
        error = EINVAL;
    }
    if (timed)
        timer_delete(timer);
    for (int i = 0; i < 3; i++)
        sigaction(signals[i], &before[i], NULL);
    sigprocmask(SIG_SETMASK, &callers, NULL);
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
    sem_t *semaphore = open_without_waiting(name);
    if (semaphore == SEM_FAILED)
        return failed("sem_open", errno, failure);
    int error = file_holds_a_whole_semaphore(name) ? post_guarded(semaphore) : EINVAL;
    sem_close(semaphore);
    return error == 0 || failed("sem_post", error, failure);
}

void write_usage_line(const char *text)
{
    printf("%s\n", text);
}

void write_failure_line(const SignalFailure &failure)
{
    fprintf(stderr, "%s failed: %s\n", failure.step, failure.text);
}
