// semhold over POSIX, where a semaphore outlives its users: there is nothing to hold, and the
// semaphore is only made ready, with the checks of a wait, before COMMAND runs in semhold's place.
#include "semaphore_file.h"

#include <errno.h>
#include <unistd.h>

namespace
{

int look(void *semaphore)
{
    return words_of_a_semaphore(static_cast<const sem_t *>(semaphore)) ? 0 : EINVAL;
}

} // namespace

HoldOutcome hold_named_semaphore(const char *name, char *const *command, unsigned long *,
                                 SignalFailure *failure)
{
    MappedSemaphore mapped;
    int error = map_semaphore(name, &mapped);
    if (error == 0 && mapped.not_a_semaphore)
        error = EINVAL;
    if (error == 0) {
        guarded_semaphore = mapped.semaphore;
        error = guarded(false, look, mapped.semaphore);
        let_go(mapped);
    }
    if (error != 0) {
        failed("sem_open", error, failure);
        return HoldOutcome::not_opened;
    }
    // Without COMMAND, until a signal ends it by its own action: one that ends a program ends
    // semhold, one that the caller left ignored stays ignored.
    while (command == NULL)
        pause();
    execvp(command[0], command);
    error = errno;
    failed("execvp", error, failure);
    return error == ENOENT ? HoldOutcome::not_found : HoldOutcome::not_runnable;
}
