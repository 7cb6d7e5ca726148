// The semaphore's file: opened, checked and mapped as the C library keeps it, and the guard of
// what is done to it.
#include "semaphore_file.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <setjmp.h>
#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

bool file_of(const char *name, char (&file)[PATH_MAX])
{
    while (*name == '/')
        name++;
    const char folder[] = "/dev/shm/sem.";
    memcpy(file, folder, sizeof folder - 1);
    size_t length = sizeof folder - 1;
    for (; *name != '\0' && *name != '/' && length < sizeof file - 1; name++)
        file[length++] = *name;
    file[length] = '\0';
    return *name == '\0' && length > sizeof folder - 1;
}

namespace
{

// The semaphore's file, opened as sem_open opens it, but neither following a link nor waiting:
// another user's lease on the file makes a plain open wait until the lease is broken (45 s by
// default), and O_NONBLOCK makes it fail at once instead.
int open_file(const char *file)
{
    return open(file, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
}

// Creates the semaphore where there is none, as sem_open creates it, and keeps the mapping that
// sem_open made of it: its creator may not be allowed to open it again (under a umask that takes
// away its own read access, say). Where another process created the name meanwhile, it fails with
// EEXIST. A new semaphore is written to a temporary file first, which a file size limit turns
// into death by SIGXFSZ with the file left behind; with SIGXFSZ ignored for the call, the write
// fails and the C library removes its file and says why.
int create(const char *name, sem_t **created)
{
    struct sigaction ignore = {}, before;
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, &before);
    // A new semaphore gets mode 0600, less the umask: its creator's user's alone, as with
    // Windows' default security.
    errno = 0;
    *created = sem_open(name, O_CREAT | O_EXCL | O_NONBLOCK, 0600, 0);
    int error = *created == SEM_FAILED ? errno : 0;
    sigaction(SIGXFSZ, &before, NULL);
    return error;
}

// Whether the file that was opened can hold a semaphore of the C library's own: a regular file,
// as long as a semaphore at least, with one link. A file shorter than that, planted by another
// user before the name was first used, would make the raise count in memory that is not in the
// file, or die of SIGBUS. A second link is another file planted under the name (where
// fs.protected_hardlinks is 0, anyone may link a file of the same file system that they can
// name, one they may not write among them); the C library's own semaphore has a second link only
// for the moment in which sem_open moves a new one into place, so that is waited out.
bool holds_a_semaphore(int fd, struct stat &status)
{
    for (int look = 0; fstat(fd, &status) == 0; look++) {
        if (!S_ISREG(status.st_mode) || status.st_size < static_cast<off_t>(sizeof(sem_t)))
            return false;
        if (status.st_nlink == 1)
            return true;
        const timespec moment = {0, 1000000};
        if (look == 10 || nanosleep(&moment, NULL) != 0)
            return false;
    }
    return false;
}

} // namespace

int map_semaphore(const char *name, MappedSemaphore *mapped)
{
    // POSIX asks for one leading slash, which is optional on Linux: the C library drops any, so
    // that NAME and /NAME are the same semaphore. It counts them against its limit on the length
    // of a name, though, and then fails without saying why; so they are dropped here first.
    while (*name == '/')
        name++;
    char file[PATH_MAX];
    mapped->created = true;
    mapped->not_a_semaphore = false;
    if (!file_of(name, file))
        return create(name, &mapped->semaphore); // which fails, with the C library's reason
    // A name too long for a file is refused by sem_open, in its own words.
    int fd;
    struct stat status;
    for (int round = 0; (fd = open_file(file)) < 0; round++) {
        if ((errno != ENOENT && errno != ENAMETOOLONG) || round == 3)
            return errno;
        int error = create(name, &mapped->semaphore);
        if (error != EEXIST)
            return error;
    }
    mapped->created = false;
    void *memory = MAP_FAILED;
    if (holds_a_semaphore(fd, status)) {
        memory = mmap(NULL, sizeof(sem_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        mapped->file = status.st_ino;
        mapped->file_system = status.st_dev;
    }
    close(fd);
    mapped->not_a_semaphore = memory == MAP_FAILED;
    mapped->semaphore = static_cast<sem_t *>(memory);
    return 0;
}

void let_go(const MappedSemaphore &mapped)
{
    if (mapped.created)
        sem_close(mapped.semaphore);
    else
        munmap(mapped.semaphore, sizeof(sem_t));
}

// The two words of the file that sem_post reads before it raises the count, as the C library
// lays them out (struct new_sem in its nptl sources, where atomics are 64 bits wide): a 64-bit
// word whose low half is the count and whose high half the number of waiters, then the flags of
// its futex calls, 128 in every semaphore that sem_open makes (shared between processes; 0 would
// be a semaphore private to one process, whose wake-up reaches no other). A count above
// SEM_VALUE_MAX would carry into the waiters; a number of waiters that no machine has (2^31 and
// more) wraps to 0 when a waiter registers, and the raise then wakes nobody; other flags turn the
// wake-up of a waiter into a wait or into another futex operation. A file that shows any of these
// is not a semaphore.
static_assert(sizeof(sem_t) == 32 && sizeof(void *) == 8, "the layout of 64-bit semaphores");
bool words_of_a_semaphore(const sem_t *semaphore)
{
    uint64_t count_and_waiters;
    uint32_t futex_flags;
    memcpy(&count_and_waiters, semaphore, sizeof count_and_waiters);
    memcpy(&futex_flags, reinterpret_cast<const char *>(semaphore) + 8, sizeof futex_flags);
    return (count_and_waiters & UINT32_MAX) <= SEM_VALUE_MAX &&
           (count_and_waiters >> 32) < 1U << 31 && futex_flags == 128;
}

const sem_t *volatile guarded_semaphore;

namespace
{

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
    const char *mapped = reinterpret_cast<const char *>(guarded_semaphore);
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

} // namespace

// Runs `operation` on the semaphore mapped at guarded_semaphore, a file that anyone may have
// written or truncated since it was checked. Reading or raising dies of SIGBUS where the mapped
// file has lost its page, the C library aborts on contents it does not expect, and contents
// changed under it can turn its wake-up of waiters into a wait. Each of these ends the operation,
// which then fails with EINVAL, as sem_post does on something that is not a semaphore. A raise
// takes microseconds, and is `timed`: the second allowed it is measured by a timer of the guard's
// own, so that the caller's alarm and SIGALRM stay the caller's; a wait lasts as long as it
// waits. The guard's signals are unblocked for the operation, since a blocked SIGBUS kills and a
// blocked timer never fires. Handlers, timer, signal mask and the caller's pending signals are
// left as they were found.
int guarded(bool timed, int (*operation)(void *), void *context)
{
    int *signals = guarded_signals;
    const int guards = timed ? 3 : 2;
    signals[0] = SIGBUS;
    signals[1] = SIGABRT;
    signals[2] = guards == 3 ? SIGRTMIN : 0;
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
    sigevent expiry = {};
    expiry.sigev_notify = SIGEV_SIGNAL;
    expiry.sigev_signo = signals[2];
    expiry.sigev_value.sival_ptr = &went_wrong;
    timer_t timer;
    const bool has_timer = guards == 3 && timer_create(CLOCK_MONOTONIC, &expiry, &timer) == 0;
    const itimerspec one_second = {{0, 0}, {1, 0}};
    operating = 0;
    callers_signals = 0;
    sigprocmask(SIG_BLOCK, NULL, &callers);

    int error;
    if (sigsetjmp(went_wrong, 0) == 0) {
        sigprocmask(SIG_UNBLOCK, &guarded_set, NULL);
        operating = 1;
        if (has_timer)
            timer_settime(timer, 0, &one_second, NULL);
        error = operation(context);
    } else {
        error = EINVAL;
    }
    operating = 0;
    if (has_timer)
        timer_delete(timer);
    sigprocmask(SIG_BLOCK, &guarded_set, NULL);
    for (int i = 0; i < guards; i++)
        sigaction(signals[i], &before[i], NULL);
    sigprocmask(SIG_SETMASK, &callers, NULL);
    for (int i = 0; i < guards; i++)
        if (callers_signals & (1 << i))
            raise(signals[i]);
    return error;
}

// The raise, on a file whose words are checked first.
