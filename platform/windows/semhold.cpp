// semhold over Win32, where a semaphore vanishes with its last handle: it is held open while
// COMMAND runs in a process of its own.
#include "open_semaphore.h"

namespace
{

bool command_running;

// With COMMAND, Ctrl-C and Ctrl-Break reach it, since it shares the console, as they would without
// semhold; semhold leaves the decision to COMMAND and ends when it does. (A handler, unlike Ctrl-C
// disabled for the process, is not inherited.) Without COMMAND, they end semhold as the system's
// own handler ends a program. Closing the console and the rest are left to the system.
BOOL WINAPI on_control(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    if (!command_running)
        ExitProcess(STATUS_CONTROL_C_EXIT);
    return TRUE;
}

bool blank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

// The rest of the command line after the program's name, NAME and the blanks after it, exactly as
// typed, found by the rules by which the C runtime split the line into wmain's arguments: the
// program's name runs to the first blank outside quotes; in NAME a quote after an even number of
// backslashes (none included) opens or closes a quoted part, one after an odd number is a quote
// of the name, and inside a quoted part "" is a quote of the name too.
const wchar_t *after_name(const wchar_t *line)
{
    bool quoted = false;
    for (; *line != 0 && (quoted || !blank(*line)); line++)
        if (*line == L'"')
            quoted = !quoted;
    while (blank(*line))
        line++;
    for (quoted = false; *line != 0 && (quoted || !blank(*line));) {
        int backslashes = 0;
        for (; *line == L'\\'; line++)
            backslashes++;
        if (*line != L'"' || backslashes % 2 == 1) {
            // A quote of the name, or another character; after backslashes, the next round
            // looks at it afresh.
            if (*line == L'"' || backslashes == 0)
                line++;
        } else if (quoted && line[1] == L'"') {
            line += 2;
        } else {
            quoted = !quoted;
            line++;
        }
    }
    while (blank(*line))
        line++;
    return line;
}

} // namespace

HoldOutcome hold_named_semaphore(wchar_t *const *arguments, unsigned long *status, Failure *failure)
{
    // The right to wait, as semwait asks for it, is right enough to hold the semaphore.
    HANDLE semaphore = open_semaphore(arguments[0], SYNCHRONIZE, failure);
    if (semaphore == NULL)
        return HoldOutcome::not_opened;
    SetConsoleCtrlHandler(on_control, TRUE);
    if (arguments[1] == NULL)
        Sleep(INFINITE);

    // COMMAND goes to CreateProcessW as it was typed, never split and quoted again; a batch file
    // is run through cmd.exe by CreateProcessW itself.
    static wchar_t line[32768]; // CreateProcessW may write to it
    lstrcpynW(line, after_name(GetCommandLineW()), 32768);
    PROCESS_INFORMATION process;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    command_running = true;
    if (!CreateProcessW(NULL, line, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
        DWORD error = GetLastError();
        failed(kRunStep, error, failure);
        CloseHandle(semaphore);
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? HoldOutcome::not_found
                   : HoldOutcome::not_runnable;
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, status);
    CloseHandle(process.hProcess);
    CloseHandle(semaphore); // only now that COMMAND has ended
    return HoldOutcome::ended;
}
