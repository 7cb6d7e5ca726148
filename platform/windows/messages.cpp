// The commands' lines, and the system's text for a failure.
#include "messages.h"

#include <stdio.h>

bool failed(const char *step, DWORD error, Failure *failure)
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

namespace
{

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
    char bytes[(sizeof(Failure::text) / sizeof(wchar_t) + 64) * 4];
    int size = WideCharToMultiByte(code_page, 0, line, length, NULL, 0, NULL, NULL);
    if (size <= 0 || size > static_cast<int>(sizeof bytes))
        code_page = GetOEMCP();
    size = WideCharToMultiByte(code_page, 0, line, length, bytes, sizeof bytes, NULL, NULL);
    WriteFile(stream, bytes, size, &written, NULL);
}

} // namespace

void write_usage_line(const char *text)
{
    wchar_t line[64];
    write_line(STD_OUTPUT_HANDLE, line, _snwprintf(line, 64, L"%hs\r\n", text));
}

void write_failure_line(const Failure &failure)
{
    wchar_t line[sizeof failure.text / sizeof failure.text[0] + 64]; // room for label and CR LF
    write_line(STD_ERROR_HANDLE, line,
               _snwprintf(line, sizeof line / sizeof line[0], L"%hs failed: %ls\r\n", failure.step,
                          failure.text));
}
