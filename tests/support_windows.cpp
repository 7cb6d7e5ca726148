// The tests' helpers over Win32 processes, pipes and semaphores.
#include "support.h"

#include <windows.h>

#include <stdexcept>

std::string semsignal_path()
{
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, self, MAX_PATH);
    std::string path(self, length);
    return path.substr(0, path.find_last_of("\\/") + 1) + "semsignal.exe";
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

Started start(const std::string &arguments, const char *directory)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, NULL, TRUE};
    HANDLE out_read, out_write, err_read, err_write;
    if (!CreatePipe(&out_read, &out_write, &inheritable, 0) ||
        !CreatePipe(&err_read, &err_write, &inheritable, 0))
        throw std::runtime_error("CreatePipe failed");
    SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = NULL;
    startup.hStdOutput = out_write;
    startup.hStdError = err_write;
    std::string path = semsignal_path();
    std::string command_line = "semsignal.exe" + (arguments.empty() ? "" : " " + arguments);
    PROCESS_INFORMATION process;
    BOOL started = CreateProcessA(path.c_str(), &command_line[0], NULL, NULL, TRUE, 0, NULL,
                                  directory, &startup, &process);
    CloseHandle(out_write);
    CloseHandle(err_write);
    if (!started)
        throw std::runtime_error("cannot start " + path);
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

Outcome finish(const Started &started)
{
    Outcome outcome;
    // The streams are read to their end (the command writes a line at most, which a pipe holds
    // whole), then the exit status is taken.
    outcome.out = read_all(started.out);
    outcome.err = read_all(started.err);
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
    return finish(start(arguments, directory));
}

Outcome run_semsignal(const std::vector<std::string> &arguments)
{
    return run_command_line(command_tail(arguments));
}

std::vector<Outcome> run_semsignal_together(const std::vector<std::string> &arguments, int copies)
{
    std::vector<Started> started;
    for (int i = 0; i < copies; i++)
        started.push_back(start(command_tail(arguments), nullptr));
    std::vector<Outcome> outcomes;
    for (const Started &run : started)
        outcomes.push_back(finish(run));
    return outcomes;
}

std::string unique_name(const std::string &tag)
{
    static int counter = 0;
    return "semsignal-test-" + std::to_string(GetCurrentProcessId()) + "-" + tag + "-" +
           std::to_string(++counter);
}

bool semaphore_exists(const std::string &name)
{
    HANDLE semaphore = OpenSemaphoreA(SYNCHRONIZE, FALSE, name.c_str());
    if (semaphore == NULL)
        return false;
    CloseHandle(semaphore);
    return true;
}

// A Windows semaphore goes with its last handle: there is nothing to remove.
void forget_semaphore(const std::string &) {}

TestSemaphore::TestSemaphore(const std::string &name, long initial, long maximum) : name_(name)
{
    HANDLE semaphore = CreateSemaphoreA(NULL, initial, maximum, name.c_str());
    if (semaphore != NULL && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(semaphore);
        semaphore = NULL;
    }
    handle_ = semaphore;
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

namespace
{

struct WaitRequest {
    std::string name;
    int timeout_ms;
};

DWORD WINAPI wait_once(void *parameter)
{
    WaitRequest *request = static_cast<WaitRequest *>(parameter);
    HANDLE semaphore = OpenSemaphoreA(SYNCHRONIZE, FALSE, request->name.c_str());
    DWORD result =
        semaphore != NULL && WaitForSingleObject(semaphore, request->timeout_ms) == WAIT_OBJECT_0
            ? 0
            : 1;
    if (semaphore != NULL)
        CloseHandle(semaphore);
    delete request;
    return result;
}

} // namespace

// The waiter is a thread with a handle of its own, opened by name.
Waiter::Waiter(const std::string &name, int timeout_ms)
{
    HANDLE thread = CreateThread(NULL, 0, wait_once, new WaitRequest{name, timeout_ms}, 0, NULL);
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
