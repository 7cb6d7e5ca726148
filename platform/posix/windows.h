// The few Win32 declarations the command uses, provided on POSIX systems over named semaphores.
// A semaphore name N is the POSIX semaphore "/N"; the last error is errno.
#ifndef SEMSIGNAL_PLATFORM_POSIX_WINDOWS_H
#define SEMSIGNAL_PLATFORM_POSIX_WINDOWS_H

#include <stdarg.h>
#include <stdint.h>

typedef int BOOL;
typedef int32_t LONG;
typedef uint32_t DWORD;
typedef void *HANDLE;
typedef struct _SECURITY_ATTRIBUTES *LPSECURITY_ATTRIBUTES;

#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000

#ifdef __cplusplus
extern "C" {
#endif

// Opens the semaphore of that name or, in the same step, creates it with the initial count and
// mode 0600. POSIX semaphores have no maximum: maximum_count is only checked for sense.
// Returns NULL with errno set when the platform refuses the name.
HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES attributes, LONG initial_count, LONG maximum_count,
                        const char *name);
// Raises the count by one (release_count must be 1, previous_count NULL).
BOOL ReleaseSemaphore(HANDLE semaphore, LONG release_count, LONG *previous_count);
BOOL CloseHandle(HANDLE semaphore);
DWORD GetLastError(void);
// Writes strerror(message_id) into buffer; only FORMAT_MESSAGE_FROM_SYSTEM is understood.
DWORD FormatMessageA(DWORD flags, const void *source, DWORD message_id, DWORD language_id,
                     char *buffer, DWORD size, va_list *arguments);

#ifdef __cplusplus
}
#endif

#endif
