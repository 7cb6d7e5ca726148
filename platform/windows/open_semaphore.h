// Opening a named semaphore over Win32, as every command does.
#ifndef SEMSIGNAL_WINDOWS_OPEN_SEMAPHORE_H
#define SEMSIGNAL_WINDOWS_OPEN_SEMAPHORE_H

#include "messages.h"

// The semaphore of that name, opened with only the `rights` that the command needs, so that one
// whose security grants no more than that can still be used, or else created with a count of 0, a
// maximum of 999 and the default security; or NULL, with `failure` filled.
inline HANDLE open_semaphore(const wchar_t *name, DWORD rights, Failure *failure)
{
    HANDLE semaphore = CreateSemaphoreExW(NULL, 0, 999, name, 0, rights);
    if (semaphore == NULL)
        failed(kOpenStep, GetLastError(), failure);
    return semaphore;
}

#endif
