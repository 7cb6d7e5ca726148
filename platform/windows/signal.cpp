// semsignal over Win32: the raise.
#include "system_text.h"

bool signal_named_semaphore(const wchar_t *name, SignalFailure *failure)
{
    // Only the right to raise the count is asked for, so that a semaphore whose security grants
    // no more than that can still be signalled. A new one gets the default security.
    HANDLE semaphore = CreateSemaphoreExW(NULL, 0, 999, name, 0, SEMAPHORE_MODIFY_STATE);
    if (semaphore == NULL) {
        // The label is the one the command printed when it opened through CreateSemaphoreA;
        // callers match on it, so it stays.
        return failed("CreateSemaphoreA", GetLastError(), failure);
    }
    BOOL raised = ReleaseSemaphore(semaphore, 1, NULL);
    DWORD error = GetLastError();
    CloseHandle(semaphore);
    return raised || failed("ReleaseSemaphore", error, failure);
}
