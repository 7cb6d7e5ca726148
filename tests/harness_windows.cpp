// The tests' helpers over Win32 processes, pipes and semaphores.
#include "harness.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include <memory>
#include <stdexcept>
#include <thread>

std::wstring wide(const std::string &utf8)
{
    int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                     static_cast<int>(utf8.size()), NULL, 0);
    if (length == 0 && !utf8.empty())
        throw std::runtime_error("a test name is not UTF-8");
    std::wstring text(length, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &text[0], length);
    return text;
}

std::wstring system_text(unsigned long error)
{
    wchar_t text[512];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                  error, 0, text, 512, NULL);
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n'))
        length--;
    if (length == 0)
        throw std::runtime_error("no system text for error " + std::to_string(error));
    return std::wstring(text, length);
}

std::string in_code_page(unsigned code_page, const std::wstring &text)
{
    int length = WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), NULL,
                                     0, NULL, NULL);
    std::string bytes(length, '\0');
    WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), &bytes[0], length,
                        NULL, NULL);
    return bytes;
}

std::string ansi(const std::wstring &text)
{
    return in_code_page(CP_ACP, text);
}

unsigned written_code_page()
{
    UINT code_page = GetConsoleOutputCP();
    std::string ascii;
    for (char c = ' '; c <= '~'; c++)
        ascii += c;
    if (code_page == 0 || in_code_page(code_page, wide(ascii)) != ascii)
        return GetOEMCP();
    return code_page;
}

// The command that the tests start shares the test's console, if it has one.
std::ostream &operator<<(std::ostream &stream, const Ending &ending)
{
    return stream << "exited with " << ending.status;
}

std::string failure_line(const std::string &step, long error)
{
    std::wstring line = wide(step) + L" failed: " + system_text(error) + L"\r\n";
    return in_code_page(written_code_page(), line);
}

// In UTF-8, as every path and name of the tests, from the system's UTF-16: the folder may hold any
// letter, whatever the ANSI code page carries.
std::string semsignal_path()
{
    static wchar_t self[32768];
    DWORD length = GetModuleFileNameW(NULL, self, 32768);
    if (length == 0 || length == 32768)
        throw std::runtime_error("cannot tell where the test executable is");
    std::string path = in_code_page(CP_UTF8, std::wstring(self, length));
    return path.substr(0, path.find_last_of("\\/") + 1) + "semsignal.exe";
}

std::string tests_path()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    return in_code_page(CP_UTF8, std::wstring(path, length));
}

std::string semwait_path()
{
    std::string path = semsignal_path();
    return path.substr(0, path.find_last_of("\\/") + 1) + "semwait.exe";
}

std::string semhold_path()
{
    std::string path = semsignal_path();
    return path.substr(0, path.find_last_of("\\/") + 1) + "semhold.exe";
}

std::string temporary_folder()
{
    wchar_t folder[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH)
        throw std::runtime_error("cannot tell where the temporary folder is");
    return in_code_page(CP_UTF8, std::wstring(folder, length));
}

namespace
{

// Quotes one argument so that the C runtime's command-line splitting gives it back unchanged.
std::string quoted(const std::string &argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos)
        return argument;
    std::string text = "\"";
    for (size_t i = 0;; i++) {
        size_t backslashes = 0;
        while (i < argument.size() && argument[i] == '\\') {
            i++;
            backslashes++;
        }
        if (i == argument.size()) {
            text.append(backslashes * 2, '\\');
            break;
        }
        text.append(argument[i] == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        text += argument[i];
    }
    return text + "\"";
}

std::string command_tail(const std::vector<std::string> &arguments)
{
    std::string tail;
    for (const std::string &argument : arguments)
        tail += (tail.empty() ? "" : " ") + quoted(argument);
    return tail;
}

struct Started {
    HANDLE process;
    HANDLE out;
    HANDLE err;
};

enum class Launcher { unicode, ansi };

// How the command is started: by which kind of program, in which folder, with which creation
// flags, and with its standard error a pipe of ours (NULL) or the given handle.
struct Launch {
    const char *command = "semsignal";
    Launcher launcher = Launcher::unicode;
    const char *directory = nullptr;
    DWORD flags = 0;
    HANDLE err = NULL;
};

// One try at starting the command, as its launcher starts it.
BOOL start_once(const std::wstring &path, std::wstring line, const std::wstring &folder,
                const Launch &launch, HANDLE out_write, HANDLE err_write,
                PROCESS_INFORMATION *process)
{
    BOOL started;
    if (launch.launcher == Launcher::unicode) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out_write;
        startup.hStdError = err_write;
        started =
            CreateProcessW(path.c_str(), &line[0], NULL, NULL, TRUE, launch.flags, NULL,
                           launch.directory == nullptr ? NULL : folder.c_str(), &startup, process);
    } else {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out_write;
        startup.hStdError = err_write;
        // The program is found by its name alone in the folder of the test executable, which is
        // the first place the system looks: a folder whose name the ANSI code page cannot carry
        // is no obstacle.
        std::string ansi_line = ansi(line);
        started = CreateProcessA(NULL, &ansi_line[0], NULL, NULL, TRUE, launch.flags, NULL,
                                 launch.directory, &startup, process);
    }
    return started;
}

Started start(const std::string &arguments, const Launch &launch = {})
{
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, NULL, TRUE};
    HANDLE out_read, out_write, err_read = NULL, err_write = launch.err;
    if (!CreatePipe(&out_read, &out_write, &inheritable, 0) ||
        (launch.err == NULL && !CreatePipe(&err_read, &err_write, &inheritable, 0)))
        throw std::runtime_error("CreatePipe failed");
    SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
    if (err_read != NULL)
        SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);

    const std::string command = launch.command;
    std::wstring path = wide(command == "semwait"           ? semwait_path()
                             : command == "semhold"         ? semhold_path()
                             : command == "semsignal_tests" ? tests_path()
                                                            : semsignal_path());
    std::wstring line =
        wide(std::string(launch.command) + ".exe" + (arguments.empty() ? "" : " " + arguments));
    std::wstring folder = launch.directory == nullptr ? L"" : wide(launch.directory);
    PROCESS_INFORMATION process;
    BOOL started = FALSE;
    DWORD error = 0;
    // Under Wine a start fails now and then for no reason of the command's (seen under 64-bit
    // Wine): it is tried three times before the test gives up, with the system's error.
    for (int attempt = 0; attempt < 3 && !started; attempt++) {
        started = start_once(path, line, folder, launch, out_write, err_write, &process);
        error = started ? 0 : GetLastError();
        if (!started)
            Sleep(100);
    }
    CloseHandle(out_write);
    if (err_read != NULL)
        CloseHandle(err_write);
    if (!started)
        throw std::runtime_error("cannot start " + in_code_page(CP_UTF8, path) + " (error " +
                                 std::to_string(error) + ")");
    CloseHandle(process.hThread);
    return {process.hProcess, out_read, err_read};
}

std::string read_all(HANDLE pipe)
{
    std::string text;
    char buffer[4096];
    DWORD got;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, NULL) && got > 0)
        text.append(buffer, got);
    CloseHandle(pipe);
    return text;
}

// Both streams are read to their end at once, then the exit status is taken, so that a child
// that writes more than a pipe holds is never left waiting for us.
Outcome finish(const Started &started)
{
    Outcome outcome;
    std::thread err_reader([&] {
        if (started.err != NULL)
            outcome.err = read_all(started.err);
    });
    outcome.out = read_all(started.out);
    err_reader.join();
    WaitForSingleObject(started.process, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(started.process, &status);
    CloseHandle(started.process);
    outcome.status = static_cast<int>(status);
    return outcome;
}

} // namespace

Outcome run_command_line(const std::string &arguments, const char *directory)
{
    Launch launch;
    launch.directory = directory;
    return finish(start(arguments, launch));
}

Outcome run_ansi_command_line(const std::string &arguments)
{
    Launch launch;
    launch.launcher = Launcher::ansi;
    return finish(start(arguments, launch));
}

Outcome run_semsignal_with(const std::vector<std::string> &arguments, bool detached, void *error)
{
    Launch launch;
    launch.flags = detached ? DETACHED_PROCESS : 0;
    launch.err = error;
    return finish(start(command_tail(arguments), launch));
}

Outcome run_semsignal(const std::vector<std::string> &arguments)
{
    return run_command_line(command_tail(arguments));
}

Outcome run_semwait(const std::vector<std::string> &arguments)
{
    Launch launch;
    launch.command = "semwait";
    return finish(start(command_tail(arguments), launch));
}

Outcome run_semhold(const std::vector<std::string> &arguments)
{
    return run_semhold_line(command_tail(arguments));
}

Outcome run_tests_helper(const std::string &arguments)
{
    Launch launch;
    launch.command = "semsignal_tests";
    return finish(start(arguments, launch));
}

Outcome run_semhold_line(const std::string &arguments)
{
    Launch launch;
    launch.command = "semhold";
    return finish(start(arguments, launch));
}

RunningWait::RunningWait(const std::vector<std::string> &arguments, bool holding)
{
    Launch launch;
    launch.command = holding ? "semhold" : "semwait";
    Started started = start(command_tail(arguments), launch);
    process_ = reinterpret_cast<long long>(started.process);
    out_ = reinterpret_cast<long long>(started.out);
    err_ = reinterpret_cast<long long>(started.err);
}

Outcome RunningWait::outcome()
{
    if (!finished_) {
        finished_ = true;
        outcome_ = finish({reinterpret_cast<HANDLE>(process_), reinterpret_cast<HANDLE>(out_),
                           reinterpret_cast<HANDLE>(err_)});
    }
    return outcome_;
}

// A wait that is still going when the test ends is ended, so that no process is left behind.
RunningWait::~RunningWait()
{
    if (!finished_)
        TerminateProcess(reinterpret_cast<HANDLE>(process_), 1);
    outcome();
}

std::vector<Outcome> run_semsignal_together(const std::vector<std::string> &arguments, int copies)
{
    std::vector<Started> started;
    for (int i = 0; i < copies; i++)
        started.push_back(start(command_tail(arguments)));
    std::vector<Outcome> outcomes;
    for (const Started &run : started)
        outcomes.push_back(finish(run));
    return outcomes;
}

// A breakpoint goes on ReleaseSemaphore, at the address it has in every process (the system's
// DLLs are loaded at the same base in each), once the command's DLLs are loaded: at the first
// breakpoint, which the loader raises for a debugger.
void *semaphore_before_the_raise(const std::string &name)
{
    void *raise = reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "ReleaseSemaphore"));
    std::wstring path = wide(semsignal_path());
    std::wstring line = wide("semsignal.exe " + quoted(name));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(path.c_str(), &line[0], NULL, NULL, FALSE, DEBUG_ONLY_THIS_PROCESS, NULL,
                        NULL, &startup, &process))
        throw std::runtime_error("cannot start " + semsignal_path() + " under the debug API");

    HANDLE semaphore = NULL;
    bool armed = false;
    for (bool ended = false; !ended;) {
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, 30000)) {
            TerminateProcess(process.hProcess, 1);
            break;
        }
        DWORD handling = DBG_CONTINUE;
        if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
            CloseHandle(event.u.CreateProcessInfo.hFile);
        } else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
            CloseHandle(event.u.LoadDll.hFile);
        } else if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
            ended = true;
        } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT) {
            const EXCEPTION_RECORD &exception = event.u.Exception.ExceptionRecord;
            if (exception.ExceptionCode != EXCEPTION_BREAKPOINT) {
                handling = DBG_EXCEPTION_NOT_HANDLED;
            } else if (!armed) {
                const BYTE breakpoint = 0xCC;
                armed = WriteProcessMemory(process.hProcess, raise, &breakpoint, 1, NULL) &&
                        FlushInstructionCache(process.hProcess, raise, 1);
            } else if (exception.ExceptionAddress == raise) {
                semaphore = OpenSemaphoreW(SEMAPHORE_ALL_ACCESS, FALSE, wide(name).c_str());
                TerminateProcess(process.hProcess, 1);
            }
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, handling);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return semaphore;
}

std::string unique_name(const std::string &tag)
{
    static int counter = 0;
    const char *run = getenv("SEMSIGNAL_TEST_RUN");
    return "semsignal-test-" + (run == nullptr ? "" : std::string(run) + "-") +
           std::to_string(GetCurrentProcessId()) + "-" + tag + "-" + std::to_string(++counter);
}

// A Windows semaphore goes with its last handle: there is nothing to remove.
LeftBehind::~LeftBehind() {}

TestSemaphore::TestSemaphore(const std::string &name, long initial, long maximum) : name_(name)
{
    HANDLE semaphore = CreateSemaphoreW(NULL, initial, maximum, wide(name).c_str());
    if (semaphore == NULL) {
        error_ = static_cast<long>(GetLastError());
    } else if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(semaphore);
    } else {
        handle_ = semaphore;
    }
}

TestSemaphore::~TestSemaphore()
{
    if (handle_ != nullptr)
        CloseHandle(handle_);
}

// Win32 has no call that reads a count: take all there is, then give it back.
long TestSemaphore::count()
{
    long taken = 0;
    while (WaitForSingleObject(handle_, 0) == WAIT_OBJECT_0)
        taken++;
    if (taken > 0)
        ReleaseSemaphore(handle_, taken, NULL);
    return taken;
}

bool TestSemaphore::take(int timeout_ms)
{
    return WaitForSingleObject(handle_, timeout_ms) == WAIT_OBJECT_0;
}

void TestSemaphore::raise()
{
    ReleaseSemaphore(handle_, 1, NULL);
}

namespace
{

struct WaitRequest {
    std::wstring name;
    int timeout_ms;
};

DWORD WINAPI wait_once(void *parameter)
{
    std::unique_ptr<WaitRequest> request(static_cast<WaitRequest *>(parameter));
    HANDLE semaphore = OpenSemaphoreW(SYNCHRONIZE, FALSE, request->name.c_str());
    if (semaphore == NULL)
        return 1;
    DWORD result = WaitForSingleObject(semaphore, request->timeout_ms);
    CloseHandle(semaphore);
    return result == WAIT_OBJECT_0 ? 0 : 1;
}

} // namespace

// The waiter is a thread with a handle of its own, opened by name.
Waiter::Waiter(const std::string &name, int timeout_ms)
{
    HANDLE thread =
        CreateThread(NULL, 0, wait_once, new WaitRequest{wide(name), timeout_ms}, 0, NULL);
    id_ = reinterpret_cast<long long>(thread);
}

bool Waiter::released()
{
    if (result_ < 0 && id_ != 0) {
        HANDLE thread = reinterpret_cast<HANDLE>(id_);
        WaitForSingleObject(thread, INFINITE);
        DWORD code = 1;
        GetExitCodeThread(thread, &code);
        CloseHandle(thread);
        result_ = code == 0 ? 1 : 0;
    }
    return result_ == 1;
}

Waiter::~Waiter()
{
    released();
}
