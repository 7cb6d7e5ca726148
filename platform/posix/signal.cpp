// semsignal over POSIX: the raise.
#include "semaphore_file.h"

#include <errno.h>

namespace
{

// The raise, on a file whose words are checked first.
int raise_count(void *semaphore)
{
    sem_t *raised = static_cast<sem_t *>(semaphore);
    if (!words_of_a_semaphore(raised))
        return EINVAL; // what sem_post says of something that is not a semaphore
    return sem_post(raised) == 0 ? 0 : errno;
}

} // namespace

bool signal_named_semaphore(const char *name, SignalFailure *failure)
{
    MappedSemaphore mapped;
    int error = map_semaphore(name, &mapped);
    if (error != 0)
        return failed("sem_open", error, failure);
    if (mapped.not_a_semaphore)
        return failed("sem_post", EINVAL, failure);
    guarded_semaphore = mapped.semaphore;
    error = guarded(true, raise_count, mapped.semaphore);
    let_go(mapped);
    return error == 0 || failed("sem_post", error, failure);
}
