// bare wait|raise NAME: one turn of a round trip made of the bare calls alone, with none of the
// commands' checks, guards or messages: the named semaphore opened as the commands open one that
// exists (natively its file mapped, on Windows CreateSemaphoreExW with the one right asked for),
// then waited on once or raised once, and let go. The floor of the round trips that scripts/bench
// measures: a turn of semwait or semsignal cannot cost less than a process that does this.
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

int main(int argc, char *argv[])
{
    if (argc < 3)
        return 1;
    const bool waits = strcmp(argv[1], "wait") == 0;
#ifdef _WIN32
    HANDLE semaphore =
        CreateSemaphoreExA(NULL, 0, 999, argv[2], 0, waits ? SYNCHRONIZE : SEMAPHORE_MODIFY_STATE);
    if (semaphore == NULL)
        return 1;
    BOOL done = waits ? WaitForSingleObject(semaphore, INFINITE) == WAIT_OBJECT_0
                      : ReleaseSemaphore(semaphore, 1, NULL);
    CloseHandle(semaphore);
#else
    char file[4096] = "/dev/shm/sem.";
    strncat(file, argv[2], sizeof file - 14);
    int fd = open(file, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0)
        return 1;
    void *mapped = mmap(NULL, sizeof(sem_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (mapped == MAP_FAILED)
        return 1;
    sem_t *semaphore = static_cast<sem_t *>(mapped);
    bool done = (waits ? sem_wait(semaphore) : sem_post(semaphore)) == 0;
    munmap(mapped, sizeof(sem_t));
#endif
    return done ? 0 : 1;
}
