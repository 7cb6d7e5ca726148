// semsignal over Win32: the raise.
#include "open_semaphore.h"

bool signal_named_semaphore(const wchar_t *name, Failure *failure)
{
    HANDLE semaphore = open_semaphore(name, SEMAPHORE_MODIFY_STATE, failure); // right to raise
    if (semaphore == NULL)
        return false;
    BOOL raised = ReleaseSemaphore(semaphore, 1, NULL);
    DWORD error = GetLastError();
    CloseHandle(semaphore);
    return raised || failed(kRaiseStep, error, failure);
}
