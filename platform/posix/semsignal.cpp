// semsignal over POSIX: the raise.
#include "checked_semaphore.h"
#include "messages.h"

#include <errno.h>

namespace
{

int raise_count(CheckedSemaphore *semaphore, void *)
{
    return sem_post(semaphore->mapping) == 0 ? 0 : errno;
}

} // namespace

bool signal_named_semaphore(const char *name, Failure *failure)
{
    CheckedSemaphore semaphore;
    int error;
    switch (open_checked_semaphore(name, &semaphore, &error)) {
    case Opening::refused:
        return failed(kOpenStep, error, failure);
    case Opening::damaged:
        return failed(kRaiseStep, EINVAL, failure); // what sem_post says of a non-semaphore
    case Opening::opened:
        break;
    }
    error = guarded_for_a_second(&semaphore, raise_count, nullptr);
    close_checked_semaphore(semaphore);
    return error == 0 || failed(kRaiseStep, error, failure);
}
