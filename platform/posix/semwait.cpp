// semwait over POSIX: the wait, its interruptions, and the name it follows.
#include "checked_semaphore.h"
#include "messages.h"

#include <errno.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace
{

// The interruption that ended the wait: the first signal to arrive of those that end a program.
volatile sig_atomic_t interruption;
bool ignores_its_own_rtmin; // the caller left SIGRTMIN ignored or blocked
timer_t nudge;
bool nudging;

// The asynchronous signals whose default action ends the process. The synchronous ones (SIGSEGV,
// SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGSYS, SIGABRT and SIGXFSZ) are the command's own doing, and
// the stop signals stop it without ending it: those keep their actions.
bool ends_a_program(int signal)
{
    const int others[] = {SIGHUP,  SIGINT,    SIGQUIT, SIGUSR1, SIGUSR2,   SIGPIPE, SIGALRM,
                          SIGTERM, SIGSTKFLT, SIGIO,   SIGPWR,  SIGVTALRM, SIGPROF, SIGXCPU};
    for (int other : others)
        if (signal == other)
            return true;
    return signal >= SIGRTMIN && signal <= SIGRTMAX;
}

// A handler that only marks the interruption, without SA_RESTART, so that a wait under way ends
// with EINTR and nothing taken. One that arrives between the look at the mark and the start of
// the wait would go unseen until the next signal: so the handler also sets a timer of its own
// going, whose signal (SIGRTMIN, told apart from anyone else's by its origin) interrupts the wait
// every millisecond until it ends.
void on_interruption(int signal, siginfo_t *info, void *)
{
    if (signal == SIGRTMIN && ((info->si_code == SI_TIMER && info->si_value.sival_ptr == &nudge) ||
                               ignores_its_own_rtmin))
        return;
    if (interruption == 0)
        interruption = signal;
    const itimerspec every_millisecond = {{0, 1000000}, {0, 1000000}};
    if (nudging)
        timer_settime(nudge, 0, &every_millisecond, NULL);
}

// Installs the handler for every signal that ends a program, except where the caller left the
// signal ignored (a shell's background job ignores SIGINT, nohup SIGHUP): it stays ignored. A
// signal that the caller blocked stays blocked, but for SIGRTMIN, which the nudge needs; the
// caller's own SIGRTMIN is then ignored, as it would have stayed pending.
void catch_interruptions()
{
    struct sigaction mark = {}, before;
    mark.sa_sigaction = on_interruption;
    mark.sa_flags = SA_SIGINFO;
    sigemptyset(&mark.sa_mask);
    for (int signal = 1; signal <= SIGRTMAX; signal++)
        if (ends_a_program(signal))
            sigaddset(&mark.sa_mask, signal);
    sigset_t callers;
    sigprocmask(SIG_BLOCK, NULL, &callers);
    for (int signal = 1; signal <= SIGRTMAX; signal++) {
        if (!ends_a_program(signal) || sigaction(signal, NULL, &before) != 0)
            continue;
        const bool ignored = before.sa_handler == SIG_IGN;
        if (signal == SIGRTMIN)
            ignores_its_own_rtmin = ignored || sigismember(&callers, SIGRTMIN);
        if (!ignored || signal == SIGRTMIN)
            sigaction(signal, &mark, NULL);
    }
    sigevent expiry = {};
    expiry.sigev_notify = SIGEV_SIGNAL;
    expiry.sigev_signo = SIGRTMIN;
    expiry.sigev_value.sival_ptr = &nudge;
    nudging = timer_create(CLOCK_MONOTONIC, &expiry, &nudge) == 0;
    sigset_t woken;
    sigemptyset(&woken);
    sigaddset(&woken, SIGRTMIN);
    sigprocmask(SIG_UNBLOCK, &woken, NULL);
}

// Which file a semaphore that was made here is in: the one that has its name now, as it was just
// made. (One that was opened is known by the file it was mapped from.)
void identify(CheckedSemaphore *semaphore)
{
    struct stat status;
    if (semaphore->made_here && stat(semaphore->file, &status) == 0) {
        semaphore->device = status.st_dev;
        semaphore->inode = status.st_ino;
    }
}

// Where the name has come to reach another semaphore (removed and made again by anyone, or
// replaced), the wait goes on there, after the same checks, having first taken any count left on
// the one it leaves: a count raised just before the name was removed is reported, not lost.
// Returns 0 where a count was taken, EAGAIN where the wait goes on, or the error of the new one.
int follow_the_name(CheckedSemaphore *semaphore)
{
    struct stat now;
    if (stat(semaphore->file, &now) != 0 ||
        (now.st_ino == semaphore->inode && now.st_dev == semaphore->device))
        return EAGAIN; // absent or the same: the wait goes on where it is
    if (sem_trywait(semaphore->mapping) == 0)
        return 0;
    CheckedSemaphore next;
    int error;
    switch (open_checked_semaphore(semaphore->name, &next, &error)) {
    case Opening::refused:
        return error;
    case Opening::damaged:
        return EINVAL;
    case Opening::opened:
        break;
    }
    close_checked_semaphore(*semaphore);
    *semaphore = next;
    identify(semaphore);
    return reads_as_a_semaphore(next) ? EAGAIN : EINVAL;
}

// The wait, on a file whose words are checked first, until a count is taken (0), the deadline
// passes (ETIMEDOUT), an interruption comes (EINTR) or the wait fails (its errno). It waits a
// second at a time, and looks at its name between.
int wait_for_count(CheckedSemaphore *semaphore, void *context)
{
    const timespec *deadline = static_cast<const timespec *>(context);
    for (;;) {
        if (interruption != 0)
            return EINTR;
        timespec slice;
        clock_gettime(CLOCK_MONOTONIC, &slice);
        slice.tv_sec += 1;
        const bool last = deadline != NULL &&
                          (deadline->tv_sec < slice.tv_sec || (deadline->tv_sec == slice.tv_sec &&
                                                               deadline->tv_nsec <= slice.tv_nsec));
        if (sem_clockwait(semaphore->mapping, CLOCK_MONOTONIC, last ? deadline : &slice) == 0)
            return 0; // taken, whatever arrived meanwhile
        if (errno != EINTR && errno != ETIMEDOUT)
            return errno;
        if (errno == ETIMEDOUT && last)
            return ETIMEDOUT;
        if (errno == ETIMEDOUT) {
            int followed = follow_the_name(semaphore);
            if (followed != EAGAIN)
                return followed;
        }
    }
}

// Ends the process as the interruption that ended the wait ends a program: by that signal.
[[noreturn]] void end_as_interrupted()
{
    const int signal = interruption;
    if (nudging)
        timer_delete(nudge);
    struct sigaction fall = {};
    fall.sa_handler = SIG_DFL;
    sigemptyset(&fall.sa_mask);
    sigaction(signal, &fall, NULL);
    sigset_t unblocked;
    sigemptyset(&unblocked);
    sigaddset(&unblocked, signal);
    sigprocmask(SIG_UNBLOCK, &unblocked, NULL);
    raise(signal);
    _exit(128 + signal);
}

} // namespace

WaitOutcome wait_named_semaphore(const char *name, const unsigned long *milliseconds,
                                 Failure *failure)
{
    catch_interruptions();
    const char *step = milliseconds != NULL ? kTimedWaitStep : kWaitStep;
    CheckedSemaphore semaphore;
    int error;
    switch (open_checked_semaphore(name, &semaphore, &error)) {
    case Opening::refused:
        failed(kOpenStep, error, failure);
        return WaitOutcome::failed;
    case Opening::damaged: // refused before the wait, in the wait's words, as semsignal refuses it
        failed(step, EINVAL, failure);
        return WaitOutcome::failed;
    case Opening::opened:
        break;
    }
    // The deadline is on the monotonic clock, which a change of the time of day does not move, and
    // absolute, so that a wait stopped and continued keeps it.
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    if (milliseconds != NULL) {
        deadline.tv_sec += static_cast<time_t>(*milliseconds / 1000);
        deadline.tv_nsec += static_cast<long>(*milliseconds % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec++;
            deadline.tv_nsec -= 1000000000L;
        }
    }
    identify(&semaphore);
    error = guarded(&semaphore, wait_for_count, milliseconds != NULL ? &deadline : NULL);
    close_checked_semaphore(semaphore);
    // A count taken is reported whatever else happened; otherwise an interruption ends the run as
    // it ends a program, even where the file failed the wait after it came.
    if (error == 0)
        return WaitOutcome::taken;
    if (interruption != 0)
        end_as_interrupted();
    if (error == ETIMEDOUT)
        return WaitOutcome::timed_out;
    failed(step, error, failure);
    return WaitOutcome::failed;
}
