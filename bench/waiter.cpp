// waiter NAME [COUNT [SECONDS]]
// Creates the named semaphore with a count of 0 and takes COUNT signals from it (1 unless given),
// for at most SECONDS in all (30 unless given). Then it says how many arrived, how long that
// took and whether the count was left at 0, and exits 0 only if exactly COUNT arrived. With a
// COUNT of 0 it takes nothing and only holds the semaphore for SECONDS, or until it is stopped: on
// Windows a semaphore vanishes with its last handle, and a signal with it.
// The demo and the benchmarks use it as the party that waits, and as the one that holds.
#include <stdio.h>
#include <stdlib.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <fcntl.h>
#include <semaphore.h>
#include <string>
#include <time.h>
#endif

namespace
{

double now_seconds()
{
#ifdef _WIN32
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
#else
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
#endif
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        fprintf(stderr, "usage: waiter NAME [COUNT [SECONDS]]\n");
        return 2;
    }
    const char *name = argv[1];
    long wanted = argc > 2 ? atol(argv[2]) : 1;
    double seconds = argc > 3 ? atof(argv[3]) : 30;

#ifdef _WIN32
    HANDLE semaphore = CreateSemaphoreA(NULL, 0, 0x7fffffff, name);
    if (semaphore == NULL || GetLastError() == ERROR_ALREADY_EXISTS) {
        fprintf(stderr, "waiter: cannot create a new semaphore %s (error %lu)\n", name,
                static_cast<unsigned long>(GetLastError()));
        return 2;
    }
#else
    std::string path = std::string("/") + name;
    sem_unlink(path.c_str());
    sem_t *semaphore = sem_open(path.c_str(), O_CREAT | O_EXCL, 0600, 0);
    if (semaphore == SEM_FAILED) {
        perror("waiter: sem_open");
        return 2;
    }
#endif
    printf("waiting for %ld signal%s on \"%s\"\n", wanted, wanted == 1 ? "" : "s", name);
    fflush(stdout);

    double start = now_seconds();
    double deadline = start + seconds;
    long arrived = 0;
    if (wanted == 0) {
#ifdef _WIN32
        Sleep(static_cast<DWORD>(seconds * 1000));
#else
        timespec hold = {static_cast<time_t>(seconds), 0};
        while (nanosleep(&hold, &hold) != 0 && errno == EINTR) {
        }
#endif
    }
    while (arrived < wanted) {
        double left = deadline - now_seconds();
        if (left <= 0)
            break;
#ifdef _WIN32
        if (WaitForSingleObject(semaphore, static_cast<DWORD>(left * 1000) + 1) != WAIT_OBJECT_0)
            break;
#else
        timespec until;
        clock_gettime(CLOCK_REALTIME, &until);
        long long nanoseconds = until.tv_nsec + static_cast<long long>(left * 1e9);
        until.tv_sec += static_cast<time_t>(nanoseconds / 1000000000);
        until.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
        if (sem_timedwait(semaphore, &until) != 0) {
            if (errno == EINTR)
                continue;
            break;
        }
#endif
        arrived++;
    }
    double elapsed = now_seconds() - start;

#ifdef _WIN32
    bool left_over = WaitForSingleObject(semaphore, 0) == WAIT_OBJECT_0;
    CloseHandle(semaphore);
#else
    bool left_over = sem_trywait(semaphore) == 0;
    sem_close(semaphore);
    sem_unlink(path.c_str());
#endif
    printf("released %ld of %ld in %.3f s; count left at %s\n", arrived, wanted, elapsed,
           left_over ? "more than 0" : "0");
    return arrived == wanted && !left_over ? 0 : 1;
}
