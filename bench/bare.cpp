// bare wait|raise NAME: one turn of a round trip made of the bare calls alone, with none of the
// commands' checks or messages: the named semaphore opened (or created, with a count of 0), then
// waited on once or raised once, and let go. The floor of the round trips that scripts/bench
// measures: a turn of semwait or semsignal cannot cost less than a process that does this.
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <semaphore.h>
#include <string>
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
    sem_t *semaphore = sem_open(("/" + std::string(argv[2])).c_str(), O_CREAT, 0600, 0);
    if (semaphore == SEM_FAILED)
        return 1;
    bool done = (waits ? sem_wait(semaphore) : sem_post(semaphore)) == 0;
    sem_close(semaphore);
#endif
    return done ? 0 : 1;
}
