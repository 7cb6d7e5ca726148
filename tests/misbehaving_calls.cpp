// C library calls that misbehave at the one moment inside a command where a fault would show,
// loaded into the command with LD_PRELOAD by a test. SEMSIGNAL_TEST_HANG_SEM_POST=1: sem_post
// never returns, as a raise turned into a wait never does. SEMSIGNAL_TEST_SIGINT_IN_CLOCK=N: the
// Nth call of clock_gettime raises SIGINT before it returns, so that the handler runs just after
// the command looked at whether anything interrupted it, and just before it waits.
#include <dlfcn.h>
#include <semaphore.h>
#include <signal.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

extern "C" int sem_post(sem_t *semaphore)
{
    static auto real = reinterpret_cast<int (*)(sem_t *)>(dlsym(RTLD_NEXT, "sem_post"));
    if (getenv("SEMSIGNAL_TEST_HANG_SEM_POST") != nullptr)
        for (;;)
            pause();
    return real(semaphore);
}

extern "C" int clock_gettime(clockid_t clock, struct timespec *time)
{
    static auto real =
        reinterpret_cast<int (*)(clockid_t, struct timespec *)>(dlsym(RTLD_NEXT, "clock_gettime"));
    static int calls;
    const char *at = getenv("SEMSIGNAL_TEST_SIGINT_IN_CLOCK");
    int result = real(clock, time);
    if (at != nullptr && ++calls == atoi(at))
        raise(SIGINT);
    return result;
}
