// The guard of an operation on a semaphore's file that anyone may have written or truncated since
// it was checked.
#include "checked_semaphore.h"

#include <errno.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <time.h>

namespace
{

// The semaphore that the operation works on now.
CheckedSemaphore *volatile watched;

// What the guard of an operation on the mapped file knows, for its handler.
sigjmp_buf went_wrong;
volatile sig_atomic_t operating;       // the operation has begun
volatile sig_atomic_t callers_signals; // signals of others, one bit each, to be raised again
int guarded_signals[3];                // SIGBUS, SIGABRT and the guard's timer's, if it has one

// The guard gives up the operation for its own reasons only, once the operation has begun: its
// own timer; a SIGBUS that the kernel raised for the mapped file; an abort of the C library
// (a signal that a thread sent itself, as abort sends it). A signal that the caller left pending
// and blocked arrives at once when the guard unblocks it, before the operation begins; that one, or
// one that another process sends, is kept, and raised again once the caller's mask is back, where
// it is pending again or handled as the caller would have it handled.
void on_guarded_signal(int signal, siginfo_t *info, void *)
{
    const char *address = static_cast<const char *>(info->si_addr);
    const char *mapped = reinterpret_cast<const char *>(watched->mapping);
    bool ours = operating && ((signal == guarded_signals[2] && info->si_code == SI_TIMER &&
                               info->si_value.sival_ptr == &went_wrong) ||
                              (signal == SIGBUS && info->si_code > 0 && address >= mapped &&
                               address < mapped + sizeof(sem_t)) ||
                              (signal == SIGABRT && info->si_code == SI_TKILL));
    if (ours) {
        // On the way out of a wait the C library takes the waiter off the file's count of
        // waiters; where the file lost its page, that goes to a blank page in its place rather
        // than fault again.
        if (signal == SIGBUS)
            mmap(const_cast<char *>(mapped), sizeof(sem_t), PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        siglongjmp(went_wrong, 1);
    }
    for (int i = 0; i < 3; i++)
        if (signal == guarded_signals[i])
            callers_signals = callers_signals | (1 << i);
}

// The guard's own time limit, where it has one. Only a guard with a limit calls these, so that a
// command whose operations have none binds no timer call.
struct Limit {
    int signal;      // the timer's
    bool (*make)();  // false where no timer could be made
    void (*start)(); // the second begins
    void (*end)();   // the timer is deleted
};

// Reading or raising dies of SIGBUS where the mapped file has lost its page, the C library aborts
// on contents it does not expect, and contents changed under it can turn its wake-up of waiters
// into a wait. Each of these ends the operation, which then fails with EINVAL, as sem_post does on
// something that is not a semaphore. A raise takes microseconds, and is given a `limit`: the
// second allowed it is measured by a timer of the guard's own, so that the caller's alarm and
// SIGALRM stay the caller's; a wait lasts as long as it waits. The guard's signals are unblocked
// for the operation, since a blocked SIGBUS kills and a blocked timer never fires. Handlers,
// timer, signal mask and the caller's pending signals are left as they were found.
int guard(CheckedSemaphore *semaphore, const Limit *limit,
          int (*operation)(CheckedSemaphore *semaphore, void *context), void *context)
{
    watched = semaphore;
    int *signals = guarded_signals;
    const int guards = limit != NULL ? 3 : 2;
    signals[0] = SIGBUS;
    signals[1] = SIGABRT;
    signals[2] = limit != NULL ? limit->signal : 0;
    struct sigaction give_up = {}, before[3];
    give_up.sa_sigaction = on_guarded_signal;
    give_up.sa_flags = SA_SIGINFO;
    sigemptyset(&give_up.sa_mask);
    sigset_t guarded_set, callers;
    sigemptyset(&guarded_set);
    for (int i = 0; i < guards; i++) {
        sigaction(signals[i], &give_up, &before[i]);
        sigaddset(&guarded_set, signals[i]);
        sigaddset(&give_up.sa_mask, signals[i]);
    }
    const bool has_timer = limit != NULL && limit->make();
    operating = 0;
    callers_signals = 0;
    sigprocmask(SIG_BLOCK, NULL, &callers);

    int error;
    if (sigsetjmp(went_wrong, 0) == 0) {
        sigprocmask(SIG_UNBLOCK, &guarded_set, NULL);
        operating = 1;
        if (has_timer)
            limit->start();
        error = !reads_as_a_semaphore(*semaphore) ? EINVAL
                : operation != NULL               ? operation(semaphore, context)
                                                  : 0;
    } else {
        error = EINVAL;
    }
    operating = 0;
    if (has_timer)
        limit->end();
    sigprocmask(SIG_BLOCK, &guarded_set, NULL);
    for (int i = 0; i < guards; i++)
        sigaction(signals[i], &before[i], NULL);
    sigprocmask(SIG_SETMASK, &callers, NULL);
    for (int i = 0; i < guards; i++)
        if (callers_signals & (1 << i))
            raise(signals[i]);
    return error;
}

// A second, on a timer of the guard's own, whose signal is told apart from anyone else's SIGRTMIN
// by its origin and value.
timer_t second;

bool make_a_second()
{
    sigevent expiry = {};
    expiry.sigev_notify = SIGEV_SIGNAL;
    expiry.sigev_signo = SIGRTMIN;
    expiry.sigev_value.sival_ptr = &went_wrong;
    return timer_create(CLOCK_MONOTONIC, &expiry, &second) == 0;
}

void start_the_second()
{
    const itimerspec one_second = {{0, 0}, {1, 0}};
    timer_settime(second, 0, &one_second, NULL);
}

void end_the_second()
{
    timer_delete(second);
}

} // namespace

int guarded(CheckedSemaphore *semaphore,
            int (*operation)(CheckedSemaphore *semaphore, void *context), void *context)
{
    return guard(semaphore, NULL, operation, context);
}

int guarded_for_a_second(CheckedSemaphore *semaphore,
                         int (*operation)(CheckedSemaphore *semaphore, void *context),
                         void *context)
{
    const Limit a_second = {SIGRTMIN, make_a_second, start_the_second, end_the_second};
    return guard(semaphore, &a_second, operation, context);
}
