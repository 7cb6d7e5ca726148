// The named semaphore over Win32, by its UTF-16 name.
#include "named_semaphore.h"

#include <stdlib.h>
#include <string.h>
#include <windows.h>

namespace
{

bool failed(const char *step, DWORD error, SignalFailure *failure)
{
    failure->step = step;
    char *text = failure->text;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                  error, 0, text, sizeof failure->text, NULL);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r'))
        length--;
    text[length] = '\0';
    if (length == 0) {
        strcpy(text, "error ");
        _ultoa(error, text + strlen(text), 10);
    }
    return false;
}

} // namespace

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
