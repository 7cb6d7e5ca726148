// Opening, checking and mapping a named semaphore's file as the C library keeps it.
#include "checked_semaphore.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace
{

// Where the C library keeps the semaphore of that name: /dev/shm/sem.NAME. False for a name with
// a slash inside, which sem_open refuses, before it can reach any other folder.
bool place_of(const char *name, char (&file)[PATH_MAX])
{
    const char folder[] = "/dev/shm/sem.";
    memcpy(file, folder, sizeof folder - 1);
    size_t length = sizeof folder - 1;
    for (; *name != '\0' && *name != '/' && length < sizeof file - 1; name++)
        file[length++] = *name;
    file[length] = '\0';
    return *name == '\0' && length > sizeof folder - 1;
}

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

// What the file that was opened is: one that can hold a semaphore of the C library's own (a regular
// file, as long as a semaphore at least, with one link), one that cannot, or one whose name was
// removed or replaced since it was opened (no link left). A file shorter than a semaphore,
// planted by another user before the name was first used, would make the raise count in memory
// that is not in the file, or die of SIGBUS. A second link is another file planted under the
// name (where fs.protected_hardlinks is 0, anyone may link a file of the same file system that
// they can name, one they may not write among them); the C library's own semaphore has a second
// link only for the moment in which sem_open moves a new one into place, so that is waited out.
enum class File { sound, damaged, unlinked };
File look_at(int fd, struct stat &status)
{
    for (int look = 0; fstat(fd, &status) == 0; look++) {
        if (status.st_nlink == 0)
            return File::unlinked;
        if (!S_ISREG(status.st_mode) || status.st_size < static_cast<off_t>(sizeof(sem_t)))
            return File::damaged;
        if (status.st_nlink == 1)
            return File::sound;
        const timespec moment = {0, 1000000};
        if (look == 10 || nanosleep(&moment, NULL) != 0)
            return File::damaged;
    }
    return File::damaged;
}

// Opens the semaphore's file into `fd`, or creates the semaphore where there is none (`made_here`).
Opening open_or_create(CheckedSemaphore *semaphore, int *fd, int *error)
{
    semaphore->made_here = true;
    *error = 0;
    if (!place_of(semaphore->name, semaphore->file)) {
        *error = create(semaphore->name, &semaphore->mapping); // which fails, with its reason
        return *error == 0 ? Opening::opened : Opening::refused;
    }
    // A name too long for a file is refused by sem_open, in its own words.
    for (int round = 0; (*fd = open_file(semaphore->file)) < 0; round++) {
        *error = errno;
        if ((*error != ENOENT && *error != ENAMETOOLONG) || round == 3)
            return Opening::refused;
        *error = create(semaphore->name, &semaphore->mapping);
        if (*error != EEXIST)
            return *error == 0 ? Opening::opened : Opening::refused;
    }
    semaphore->made_here = false;
    return Opening::opened;
}

} // namespace

Opening open_checked_semaphore(const char *name, CheckedSemaphore *semaphore, int *error)
{
    // POSIX asks for one leading slash, which is optional on Linux: the C library drops any, so
    // that NAME and /NAME are the same semaphore. It counts them against its limit on the length
    // of a name, though, and then fails without saying why; so they are dropped here first.
    while (*name == '/')
        name++;
    semaphore->name = name;
    // A file whose name was removed or replaced after it was opened is not damaged: the name has
    // moved on, and is opened again, as a waiter that follows its name opens it, for a few tries.
    for (int round = 0; round < 4; round++) {
        int fd = -1;
        Opening opening = open_or_create(semaphore, &fd, error);
        if (opening != Opening::opened || semaphore->made_here)
            return opening;
        struct stat status;
        const File file = look_at(fd, status);
        void *memory = MAP_FAILED;
        if (file == File::sound) {
            memory = mmap(NULL, sizeof(sem_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            semaphore->device = status.st_dev;
            semaphore->inode = status.st_ino;
        }
        close(fd);
        semaphore->mapping = static_cast<sem_t *>(memory);
        if (file != File::unlinked)
            return memory == MAP_FAILED ? Opening::damaged : Opening::opened;
    }
    *error = EAGAIN; // the name never stayed long enough to be opened
    return Opening::refused;
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
bool reads_as_a_semaphore(const CheckedSemaphore &semaphore)
{
    uint64_t count_and_waiters;
    uint32_t futex_flags;
    memcpy(&count_and_waiters, semaphore.mapping, sizeof count_and_waiters);
    memcpy(&futex_flags, reinterpret_cast<const char *>(semaphore.mapping) + 8, sizeof futex_flags);
    return (count_and_waiters & UINT32_MAX) <= SEM_VALUE_MAX &&
           (count_and_waiters >> 32) < 1U << 31 && futex_flags == 128;
}

void close_checked_semaphore(const CheckedSemaphore &semaphore)
{
    if (semaphore.made_here)
        sem_close(semaphore.mapping);
    else
        munmap(semaphore.mapping, sizeof(sem_t));
}
