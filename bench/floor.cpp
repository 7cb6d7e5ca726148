// floor NAME: the C library calls that `semsignal NAME` makes on an existing semaphore, in the
// same order, with none of its checks, branches or messages: the least that its way of raising
// the count can cost, against which its instructions are measured.
#include <fcntl.h>
#include <semaphore.h>
#include <setjmp.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace
{

sigjmp_buf jump;

void on_signal(int, siginfo_t *, void *) {}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2)
        return 1;
    char file[4096] = "/dev/shm/sem.";
    strncat(file, argv[1], sizeof file - 14);
    int fd = open(file, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat status;
    fstat(fd, &status);
    void *mapped = mmap(NULL, sizeof(sem_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);

    const int signals[3] = {SIGBUS, SIGABRT, SIGRTMIN};
    struct sigaction handler = {}, before[3];
    handler.sa_sigaction = on_signal;
    handler.sa_flags = SA_SIGINFO;
    sigemptyset(&handler.sa_mask);
    sigset_t guarded, callers;
    sigemptyset(&guarded);
    for (int i = 0; i < 3; i++) {
        sigaction(signals[i], &handler, &before[i]);
        sigaddset(&guarded, signals[i]);
    }
    sigevent expiry = {};
    expiry.sigev_notify = SIGEV_SIGNAL;
    expiry.sigev_signo = signals[2];
    timer_t timer;
    timer_create(CLOCK_MONOTONIC, &expiry, &timer);
    const itimerspec one_second = {{0, 0}, {1, 0}};
    sigprocmask(SIG_BLOCK, NULL, &callers);
    if (sigsetjmp(jump, 0) == 0) {
        sigprocmask(SIG_UNBLOCK, &guarded, NULL);
        timer_settime(timer, 0, &one_second, NULL);
        sem_post(static_cast<sem_t *>(mapped));
    }
    timer_delete(timer);
    sigprocmask(SIG_BLOCK, &guarded, NULL);
    for (int i = 0; i < 3; i++)
        sigaction(signals[i], &before[i], NULL);
    sigprocmask(SIG_SETMASK, &callers, NULL);
    munmap(mapped, sizeof(sem_t));
    return 0;
}
