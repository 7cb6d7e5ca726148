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
// typed, where the line read as the C runtime reads an argument gives `name`; NULL where it does
// not. The program's name runs to the first blank outside quotes. In NAME, backslashes before a
// quote give half their number, and the quote after an even number of them (none included) opens
// or closes a quoted part, one after an odd number is a quote of the name; other backslashes are
// themselves. Inside a quoted part "" is a quote of the name too, after which later runtimes stay
// inside the quotes and Windows' own msvcrt.dll `leaves_quotes`.
wchar_t *after_name(wchar_t *line, const wchar_t *name, bool leaves_quotes)
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
        const bool quote = *line == L'"';
        for (int given = quote ? backslashes / 2 : backslashes; given > 0; given--)
            if (*name++ != L'\\')
                return NULL;
        if (quote && backslashes % 2 == 0 && !(quoted && line[1] == L'"')) {
            quoted = !quoted;
            line++;
        } else if (quote || backslashes == 0) { // a character of the name, a quote among them
            if (quote && backslashes % 2 == 0) {
                quoted = !leaves_quotes;
                line++;
            }
            if (*name++ != *line++)
                return NULL;
        } // else: after backslashes, the next round looks at what follows them afresh
    }
    while (blank(*line))
        line++;
    return *name == 0 ? line : NULL;
}

// Whether the line's first word, the program CreateProcessW is to run, is nothing but blanks.
bool names_nothing(const wchar_t *command)
{
    const bool quoted = *command == L'"';
    command += quoted;
    while (blank(*command))
        command++;
    return *command == 0 || (quoted && *command == L'"');
}

} // namespace

HoldOutcome hold_named_semaphore(wchar_t *const *arguments, unsigned long *status, Failure *failure)
{
    // NAME and COMMAND come from one reading of the line: the one that gave the C runtime's NAME.
    wchar_t *line = GetCommandLineW();
    wchar_t *command = after_name(line, arguments[0], false);
    if (command == NULL)
        command = after_name(line, arguments[0], true);
    if (command == NULL) {
        failed(kReadLineStep, ERROR_BAD_ARGUMENTS, failure);
        return HoldOutcome::not_opened;
    }
    // The right to wait, as semwait asks for it, is right enough to hold the semaphore.
    HANDLE semaphore = open_semaphore(arguments[0], SYNCHRONIZE, failure);
    if (semaphore == NULL)
        return HoldOutcome::not_opened;
    SetConsoleCtrlHandler(on_control, TRUE);
    if (*command == 0)
        Sleep(INFINITE);

    // COMMAND goes to CreateProcessW as it was typed, never split and quoted again, in the
    // process's own line, which CreateProcessW may write to; a batch file is run through cmd.exe
    // by CreateProcessW itself. Nothing to run is a program that is not found.
    PROCESS_INFORMATION process;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    command_running = true;
    if (names_nothing(command) ||
        !CreateProcessW(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
        DWORD error = names_nothing(command) ? ERROR_FILE_NOT_FOUND : GetLastError();
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
