// semhold over POSIX, where a semaphore outlives its users: there is nothing to hold, and the
// semaphore is only made ready, with the checks of a wait, before COMMAND runs in semhold's place.
#include "checked_semaphore.h"
#include "messages.h"

#include <errno.h>
#include <unistd.h>

HoldOutcome hold_named_semaphore(char *const *arguments, unsigned long *, Failure *failure)
{
    CheckedSemaphore semaphore;
    int error;
    switch (open_checked_semaphore(arguments[0], &semaphore, &error)) {
    case Opening::opened:
        error = guarded(&semaphore, nullptr, nullptr); // a look at its words
        close_checked_semaphore(semaphore);
        break;
    case Opening::damaged:
        error = EINVAL;
        break;
    case Opening::refused:
        break;
    }
    if (error != 0) {
        failed(kOpenStep, error, failure);
        return HoldOutcome::not_opened;
    }
    // Without COMMAND, until a signal ends it by its own action: one that ends a program ends
    // semhold, one that the caller left ignored stays ignored.
    char *const *command = arguments + 1;
    while (command[0] == nullptr)
        pause();
    execvp(command[0], command);
    error = errno;
    failed(kRunStep, error, failure);
    return error == ENOENT ? HoldOutcome::not_found : HoldOutcome::not_runnable;
}
