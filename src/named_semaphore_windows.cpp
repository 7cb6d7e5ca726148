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

// Whether text in the code page keeps ASCII as it is, as the ANSI and OEM code pages do. The
// EBCDIC ones (37, 500, 875, 1026 and more) do not, and a line in them hides its label from the
// scripts that look for it.
bool keeps_ascii(UINT code_page)
{
    wchar_t ascii[96];
    for (int c = 0; c < 95; c++)
        ascii[c] = static_cast<wchar_t>(L' ' + c);
    ascii[95] = L'\n';
    char bytes[sizeof ascii / sizeof ascii[0]];
    if (WideCharToMultiByte(code_page, 0, ascii, 96, bytes, sizeof bytes, NULL, NULL) != 96)
        return false;
    for (int c = 0; c < 96; c++)
        if (bytes[c] != static_cast<char>(ascii[c]))
            return false;
    return true;
}

// Writes a line to standard output or standard error, where the system's text, in the user's
// language, reads as the system gave it. A console is given the line in UTF-16, which it shows
// exactly whatever its code page and font. Anywhere else (a file, a pipe, NUL) the line goes in
// the code page in which cmd's `type` and PowerShell read a program's output: the console's, or
// the OEM one where the command has no console or the console's does not keep ASCII. ASCII text
// is the same bytes in all of them. The C runtime's text mode is not used, since a parent can
// hand down binary mode.
void write_line(DWORD which, const wchar_t *line, int length)
{
    HANDLE stream = GetStdHandle(which);
    DWORD mode, written;
    if (GetConsoleMode(stream, &mode)) {
        WriteConsoleW(stream, line, length, &written, NULL);
        return;
    }
    UINT code_page = GetConsoleOutputCP();
    if (code_page == 0 || !keeps_ascii(code_page))
        code_page = GetOEMCP();
    // Four bytes a UTF-16 unit hold the line in any code page that keeps no state; one that does
    // (ISO-2022, 50220 to 50222) may need more, and then the line goes in the OEM code page, whose
    // characters take two bytes at most, rather than not at all.
    char bytes[(sizeof(SignalFailure::text) / sizeof(wchar_t) + 64) * 4];
    int size = WideCharToMultiByte(code_page, 0, line, length, NULL, 0, NULL, NULL);
    if (size <= 0 || size > static_cast<int>(sizeof bytes))
        code_page = GetOEMCP();
    size = WideCharToMultiByte(code_page, 0, line, length, bytes, sizeof bytes, NULL, NULL);
    WriteFile(stream, bytes, size, &written, NULL);
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

namespace
{

HANDLE interrupted;

// Ctrl-C and Ctrl-Break only mark the interruption, which the wait then sees at once. Where the
// caller started the command with Ctrl-C disabled (a new process group), the system never passes
// it here: it stays ignored. Closing the console, logging off and shutting down (the last two
// reach services only) end the process as soon as the handler returns, whatever the wait has just
// taken: so the handler marks the interruption and never returns, and the main thread ends the
// process as the wait ended, within the 5 seconds that the system allows.
BOOL WINAPI on_control(DWORD event)
{
    SetEvent(interrupted);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        Sleep(INFINITE);
    return TRUE;
}

} // namespace

WaitOutcome wait_named_semaphore(const wchar_t *name, const unsigned long *milliseconds,
                                 SignalFailure *failure)
{
    // Only the right to wait is asked for, so that a semaphore whose security grants no more than
    // that can still be waited on. A new one gets the default security.
    HANDLE semaphore = CreateSemaphoreExW(NULL, 0, 999, name, 0, SYNCHRONIZE);
    if (semaphore == NULL) {
        failed("CreateSemaphoreA", GetLastError(), failure);
        return WaitOutcome::failed;
    }
    interrupted = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (interrupted == NULL) {
        failed("CreateEventW", GetLastError(), failure);
        CloseHandle(semaphore);
        return WaitOutcome::failed;
    }
    SetConsoleCtrlHandler(on_control, TRUE);
    // The interruption first: where both are there, the wait returns it and takes no count. The
    // system's waits measure time that does not count sleep, and that a change of the clock does
    // not move.
    HANDLE both[2] = {interrupted, semaphore};
    DWORD waited = WaitForMultipleObjects(2, both, FALSE, milliseconds ? *milliseconds : INFINITE);
    DWORD error = GetLastError();
    WaitOutcome outcome = waited == WAIT_OBJECT_0 + 1 ? WaitOutcome::taken
                          : waited == WAIT_OBJECT_0   ? WaitOutcome::interrupted
                          : waited == WAIT_TIMEOUT    ? WaitOutcome::timed_out
                                                      : WaitOutcome::failed;
    if (outcome == WaitOutcome::failed)
        failed("WaitForMultipleObjects", error, failure);
    CloseHandle(semaphore);
    return outcome;
}

void end_as_interrupted()
{
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

void write_usage_line(const char *text)
{
    wchar_t line[64];
    write_line(STD_OUTPUT_HANDLE, line, _snwprintf(line, 64, L"%hs\r\n", text));
}

void write_failure_line(const SignalFailure &failure)
{
    wchar_t line[sizeof failure.text / sizeof failure.text[0] + 64]; // room for label and CR LF
    write_line(STD_ERROR_HANDLE, line,
               _snwprintf(line, sizeof line / sizeof line[0], L"%hs failed: %ls\r\n", failure.step,
                          failure.text));
}
