// The test program's entry on Windows, where it also runs on its own, from run-tests.cmd: with
// --log FILE, what the tests print goes to the console and into FILE alike, and the last line
// says how the run went.
#include <gtest/gtest.h>

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <thread>

namespace
{

// The log, written by this run alone: others may read it meanwhile, but no second run may write
// it. NULL, with the system's error, where it cannot be had.
FILE *open_log(const char *log, DWORD *error)
{
    HANDLE file = CreateFileA(log, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    *error = GetLastError();
    int fd = file == INVALID_HANDLE_VALUE
                 ? -1
                 : _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
    return fd < 0 ? nullptr : _fdopen(fd, "wb");
}

// From its making to its end, standard output and standard error go to where they went before
// and into the log as well.
class Tee
{
  public:
    explicit Tee(FILE *log) : log_(log)
    {
        int ends[2];
        if (log_ == nullptr || _pipe(ends, 65536, _O_BINARY | _O_NOINHERIT) != 0)
            return;
        fflush(stdout);
        fflush(stderr);
        out_ = _dup(1);
        err_ = _dup(2);
        _dup2(ends[1], 1);
        _dup2(ends[1], 2);
        _close(ends[1]);
        copier_ = std::thread([this, from = ends[0]] {
            char buffer[4096];
            int got;
            while ((got = _read(from, buffer, sizeof buffer)) > 0) {
                _write(out_, buffer, got);
                fwrite(buffer, 1, got, log_);
                fflush(log_);
            }
            _close(from);
        });
    }
    ~Tee()
    {
        if (copier_.joinable()) {
            fflush(stdout);
            fflush(stderr);
            _dup2(out_, 1);
            _dup2(err_, 2);
            copier_.join();
            _close(out_);
            _close(err_);
        }
        if (log_ != nullptr)
            fclose(log_);
    }
    Tee(const Tee &) = delete;
    Tee &operator=(const Tee &) = delete;

    bool copying() const { return copier_.joinable(); }

  private:
    FILE *log_;
    int out_ = -1;
    int err_ = -1;
    std::thread copier_;
};

// One line: all passed, or how many failed, and which tests skipped themselves and why.
void print_verdict(const testing::UnitTest &run)
{
    std::string skipped;
    for (int i = 0; i < run.total_test_suite_count(); i++) {
        const testing::TestSuite &suite = *run.GetTestSuite(i);
        for (int j = 0; j < suite.total_test_count(); j++) {
            const testing::TestInfo &test = *suite.GetTestInfo(j);
            const testing::TestResult &result = *test.result();
            if (!result.Skipped())
                continue;
            std::string why =
                result.total_part_count() > 0 ? result.GetTestPartResult(0).message() : "";
            skipped += std::string(skipped.empty() ? "" : "; ") + suite.name() + "." + test.name() +
                       ": " + why.substr(0, why.find('\n'));
        }
    }
    if (run.Passed())
        printf("semsignal tests: all passed (%d)", run.successful_test_count());
    else
        printf("semsignal tests: FAILED: %d of %d", run.failed_test_count(),
               run.test_to_run_count());
    if (!skipped.empty())
        printf("; %d skipped (%s)", run.skipped_test_count(), skipped.c_str());
    printf("\n");
    fflush(stdout);
}

// The test's helper, run as --close-console-of PID NAME with no console of its own: joins the
// console of process PID, raises the semaphore NAME and closes that console's window, as its user
// would. Exits 0 when it closed it, 3 where it found no window to close.
int close_console_of(DWORD process, const char *name)
{
    HWND window = AttachConsole(process) ? GetConsoleWindow() : NULL;
    FreeConsole(); // so that the closing does not end the helper too
    if (window == NULL)
        return 3;
    HANDLE semaphore = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, name);
    ReleaseSemaphore(semaphore, 1, NULL);
    PostMessageW(window, WM_CLOSE, 0, 0);
    CloseHandle(semaphore);
    return 0;
}

// The test's helpers for semhold's COMMAND. --show-command-line writes the command line exactly
// as this program received it, in UTF-8, whatever the console's code page; --show-argument
// writes the first argument after it as the C runtime read it; --holds HEX exits 0 where a
// semaphore of that name (UTF-8, in hexadecimal) exists, and 3 where none does.
int show(const std::string &text)
{
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
              &written, NULL);
    return 0;
}

std::string utf8(const wchar_t *text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
    std::string bytes(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &bytes[0], size, NULL, NULL);
    return bytes;
}

int holds(const char *hex)
{
    std::string name;
    for (; hex[0] != 0 && hex[1] != 0; hex += 2)
        name += static_cast<char>(std::stoi(std::string(hex, 2), nullptr, 16));
    std::wstring wide_name(name.size() + 1, L'\0');
    wide_name.resize(MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, &wide_name[0],
                                         static_cast<int>(wide_name.size())) -
                     1);
    HANDLE semaphore = OpenSemaphoreW(SYNCHRONIZE, FALSE, wide_name.c_str());
    if (semaphore == NULL)
        return 3;
    CloseHandle(semaphore);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && strcmp(argv[1], "--close-console-of") == 0)
        return close_console_of(strtoul(argv[2], NULL, 10), argv[3]);
    if (argc >= 2 && strcmp(argv[1], "--show-command-line") == 0)
        return show(utf8(GetCommandLineW()));
    if (argc >= 3 && strcmp(argv[1], "--show-argument") == 0)
        return show(argv[2]);
    if (argc == 3 && strcmp(argv[1], "--holds") == 0)
        return holds(argv[2]);
    testing::InitGoogleTest(&argc, argv);
    const char *log = nullptr;
    if (argc == 3 && strcmp(argv[1], "--log") == 0) {
        log = argv[2];
    } else if (argc > 1) {
        fprintf(stderr, "usage: semsignal_tests [GoogleTest's flags] [--log FILE]\n");
        return 2;
    }
    // A second run in the same folder is refused, so that the two never mix their lines; a log
    // that cannot be written for another reason is done without, and the console still shows
    // every line and the verdict.
    std::unique_ptr<Tee> tee;
    if (log != nullptr) {
        DWORD error = 0;
        FILE *file = open_log(log, &error);
        if (file == nullptr && error == ERROR_SHARING_VIOLATION) {
            printf("semsignal_tests: another run is writing %s in this folder; wait until it "
                   "ends\n",
                   log);
            return 2;
        }
        tee = std::make_unique<Tee>(file);
        if (!tee->copying())
            printf("semsignal_tests: cannot write %s (error %lu): the results are on the console "
                   "only\n",
                   log, error);
    }
    int status = RUN_ALL_TESTS();
    print_verdict(*testing::UnitTest::GetInstance());
    return status;
}
