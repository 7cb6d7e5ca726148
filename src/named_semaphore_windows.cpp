// The named semaphore over Win32, by its UTF-16 name.
#include "named_semaphore.h"

#include <stdio.h>
#include <windows.h>

namespace
{

bool failed(const char *step, DWORD error, SignalFailure *failure)
{
    failure->step = step;
    wchar_t *text = failure->text;
    const DWORD size = sizeof failure->text / sizeof failure->text[0];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                  error, 0, text, size, NULL);
    while (length > 0 && (text[length - 1] == L'\n' || text[length - 1] == L'\r'))
        length--;
    text[length] = L'\0';
    if (length == 0)
        _snwprintf(text, size, L"error %lu", error);
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

// The system's text is in the user's language. A console is given the line in UTF-16, which it
// shows exactly whatever its code page and font. Anywhere else (a file, a pipe, NUL) the line goes
// in the code page in which cmd's `type` and PowerShell read a program's output: the console's,
// or the OEM one where the command has no console. ASCII text is the same bytes in all of them.
void write_failure_line(const SignalFailure &failure)
{
    wchar_t line[sizeof failure.text / sizeof failure.text[0] + 64]; // room for label and CR LF
    int length = _snwprintf(line, sizeof line / sizeof line[0], L"%hs failed: %ls\r\n",
                            failure.step, failure.text);

    HANDLE stream = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode, written;
    if (GetConsoleMode(stream, &mode)) {
        WriteConsoleW(stream, line, length, &written, NULL);
        return;
    }
    UINT code_page = GetConsoleOutputCP();
    if (code_page == 0)
        code_page = GetOEMCP();
    char bytes[sizeof line / sizeof line[0] * 4];
    int size = WideCharToMultiByte(code_page, 0, line, length, bytes, sizeof bytes, NULL, NULL);
    WriteFile(stream, bytes, size, &written, NULL);
}
