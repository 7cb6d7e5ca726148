// What a reader of standard error sees of the system's text, which is in the user's language.
// CTest runs this in a console, in a Russian and in an English locale, and gives in
// SEMSIGNAL_TEST_OEM_CP the OEM code page that the locale has; elsewhere it is the system's own.
#include "harness.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <stdlib.h>

namespace
{

// What the console shows, from its first row to the cursor.
std::wstring shown(HANDLE screen)
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(screen, &info))
        return L"<unreadable>";
    std::wstring cells(info.dwSize.X * info.dwCursorPosition.Y + info.dwCursorPosition.X, L' ');
    DWORD got = 0;
    ReadConsoleOutputCharacterW(screen, &cells[0], static_cast<DWORD>(cells.size()), {0, 0}, &got);
    cells.resize(got);
    return cells;
}

TEST(Messages, TheSystemsTextReadsRightWhereverStandardErrorGoes)
{
    const UINT oem_code_page = GetOEMCP();
    const char *expected = getenv("SEMSIGNAL_TEST_OEM_CP");
    if (expected != nullptr) {
        ASSERT_EQ(oem_code_page, static_cast<UINT>(atoi(expected))) << "the locale did not take";
    }
    const UINT console_code_page = GetConsoleOutputCP();
    if (console_code_page == 0)
        GTEST_SKIP() << "needs a console: run it from a command prompt";

    // A backslash inside a name, not after a namespace prefix, is a path the system cannot find.
    std::string name = unique_name("no-such-folder") + "\\name";
    std::wstring line = L"CreateSemaphoreA failed: " + system_text(ERROR_PATH_NOT_FOUND) + L"\r\n";
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, NULL, TRUE};
    HANDLE console =
        CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inheritable, CONSOLE_TEXTMODE_BUFFER, NULL);
    ASSERT_NE(console, INVALID_HANDLE_VALUE);
    CONSOLE_SCREEN_BUFFER_INFO screen;
    ASSERT_TRUE(GetConsoleScreenBufferInfo(console, &screen));
    // On a console a line end moves to the next row; the rest of the row stays blank.
    std::wstring on_screen = line.substr(0, line.size() - 2);
    on_screen.resize((on_screen.size() / screen.dwSize.X + 1) * screen.dwSize.X, L' ');

    // EBCDIC, where the label would not read as ASCII.
    const UINT ebcdic = 37;
    const struct {
        const char *stream;
        bool detached;
        UINT console_code_page;
        HANDLE error;
        std::string bytes;
    } cases[] = {
        {"a pipe, without a console", true, console_code_page, NULL,
         in_code_page(oem_code_page, line)},
        {"a pipe, in a console", false, console_code_page, NULL,
         in_code_page(written_code_page(), line)},
        {"a pipe, in a console in EBCDIC", false, ebcdic, NULL, in_code_page(oem_code_page, line)},
        {"the console", false, console_code_page, console, ""},
    };
    for (const auto &each : cases) {
        SCOPED_TRACE(each.stream);
        ASSERT_TRUE(SetConsoleOutputCP(each.console_code_page));
        ASSERT_EQ(GetConsoleOutputCP(), each.console_code_page);
        Outcome outcome = run_semsignal_with({name}, each.detached, each.error);
        SetConsoleOutputCP(console_code_page);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, each.bytes);
    }
    EXPECT_TRUE(shown(console) == on_screen)
        << "the console shows \"" << in_code_page(CP_UTF8, shown(console)) << "\"";
    CloseHandle(console);
}

} // namespace
