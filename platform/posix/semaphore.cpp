// Win32 semaphore calls over POSIX named semaphores.
#include <windows.h>

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <semaphore.h>
#include <stdio.h>
#include <string.h>

HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES attributes, LONG initial_count, LONG maximum_count,
                        const char *name)
{
    if (attributes != NULL || name == NULL || initial_count < 0 || maximum_count <= 0 ||
        initial_count > maximum_count) {
        errno = EINVAL;
        return NULL;
    }
    char path[NAME_MAX + 2];
    if (strlen(name) > NAME_MAX) {
        errno = ENAMETOOLONG;
        return NULL;
    }
    snprintf(path, sizeof path, "/%s", name);
    sem_t *semaphore = sem_open(path, O_CREAT, 0600, (unsigned)initial_count);
    return semaphore == SEM_FAILED ? NULL : semaphore;
}

BOOL ReleaseSemaphore(HANDLE semaphore, LONG release_count, LONG *previous_count)
{
    if (release_count != 1 || previous_count != NULL) {
        errno = EINVAL;
        return 0;
    }
    return sem_post(static_cast<sem_t *>(semaphore)) == 0;
}

BOOL CloseHandle(HANDLE semaphore)
{
    return sem_close(static_cast<sem_t *>(semaphore)) == 0;
}

DWORD GetLastError(void)
{
    return static_cast<DWORD>(errno);
}

DWORD FormatMessageA(DWORD flags, const void *, DWORD message_id, DWORD, char *buffer, DWORD size,
                     va_list *)
{
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || buffer == NULL || size == 0)
        return 0;
    const char *text = strerror(static_cast<int>(message_id));
    size_t length = strnlen(text, size - 1);
    memcpy(buffer, text, length);
    buffer[length] = '\0';
    return static_cast<DWORD>(length);
}
