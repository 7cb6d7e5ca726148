// What the command's tests share on both targets: running the command that was built beside the
// test executable, and semaphores and waiters of the tests' own. Names are UTF-8 throughout.
#ifndef SEMSIGNAL_TESTS_SUPPORT_H
#define SEMSIGNAL_TESTS_SUPPORT_H

#include <ostream>
#include <string>
#include <vector>

// The command's line ends, and the labels of the two steps that can fail.
// semhold's step that starts COMMAND, too. "Not found" is error 2 on both: ENOENT, and
// ERROR_FILE_NOT_FOUND.
#ifdef _WIN32
inline const std::string kNewline = "\r\n";
inline const std::string kOpenStep = "CreateSemaphoreA";
inline const std::string kRaiseStep = "ReleaseSemaphore";
inline const std::string kRunStep = "CreateProcessW";
#else
inline const std::string kNewline = "\n";
inline const std::string kOpenStep = "sem_open";
inline const std::string kRaiseStep = "sem_post";
inline const std::string kRunStep = "execvp";
#endif
const long kNotFound = 2;

// How a process ended, as the system reports it: it exited with a status, or a signal killed it.
struct Ending {
    Ending(int exit_status) : status(exit_status) {} // exited
    Ending(int exit_status, int killing_signal) : status(exit_status), signal(killing_signal) {}
    bool operator==(const Ending &other) const
    {
        return status == other.status && signal == other.signal;
    }
    bool operator!=(const Ending &other) const { return !(*this == other); }
    int status; // where it exited, else -1
    int signal = 0;
};
inline Ending killed_by(int signal)
{
    return Ending(-1, signal);
}
std::ostream &operator<<(std::ostream &stream, const Ending &ending);

struct Outcome {
    int status = -1; // the exit status, or -1 where a signal killed it
    int signal = 0;  // the signal that killed it (POSIX only)
    std::string out;
    std::string err;
    Ending ending() const { return Ending(status, signal); }
};

// The line the command writes when `step` fails with this error of the system's (errno, or a
// Win32 error code): the step, the system's own text and the line end.
std::string failure_line(const std::string &step, long error);

// The commands built beside the test executable.
std::string semsignal_path();
std::string semwait_path();
std::string semhold_path();
// Runs the command with these arguments, each reaching it as one argument.
Outcome run_semsignal(const std::vector<std::string> &arguments);
Outcome run_semwait(const std::vector<std::string> &arguments);
Outcome run_semhold(const std::vector<std::string> &arguments);

// A run of semwait (or, `holding`, of semhold) that goes on while the test does more, and is waited
// for when the test asks for its outcome, or when it goes.
class RunningWait
{
  public:
    explicit RunningWait(const std::vector<std::string> &arguments, bool holding = false);
    ~RunningWait();
    RunningWait(const RunningWait &) = delete;
    RunningWait &operator=(const RunningWait &) = delete;

    // Its process: a pid, or a HANDLE.
    long long process() const { return process_; }
    Outcome outcome();

  private:
    long long process_ = 0;
    long long out_ = 0;
    long long err_ = 0;
    bool finished_ = false;
    Outcome outcome_;
};
#ifdef _WIN32
// A UTF-8 name in the UTF-16 that Win32 takes.
std::wstring wide(const std::string &utf8);
// A name in the ANSI code page, as a program built for it passes it (best fit included).
std::string ansi(const std::wstring &text);
// The system's own text for a Win32 error, without its line end.
std::wstring system_text(unsigned long error);
// UTF-16 text in the given code page.
std::string in_code_page(unsigned code_page, const std::wstring &text);
// The code page in which the command writes a line that does not go to a console: the console's,
// or the OEM one where there is no console or the console's does not keep ASCII (EBCDIC).
unsigned written_code_page();
// The folder for temporary files, in UTF-8, with its closing backslash.
std::string temporary_folder();
// Runs the command with these arguments; `detached`, it has no console, and with `error` its
// standard error is that handle (a console screen buffer, say) instead of a pipe.
Outcome run_semsignal_with(const std::vector<std::string> &arguments, bool detached, void *error);
// Runs the command with this text after its own name on the command line, in `directory` if
// given, started as a Unicode program starts it.
Outcome run_command_line(const std::string &arguments, const char *directory = nullptr);
// The same for semhold.
Outcome run_semhold_line(const std::string &arguments);
// This test program, and the same for it, for its helpers (tests/windows_main.cpp).
std::string tests_path();
Outcome run_tests_helper(const std::string &arguments);
// The same, started as a program built for the ANSI code page starts it (CreateProcessA): the
// text is converted to that code page first.
Outcome run_ansi_command_line(const std::string &arguments);
// Runs the command with `name` under the debug API and stops it where it calls ReleaseSemaphore,
// so that the semaphore is as the command opened or created it; then ends the command. Returns a
// handle of the test's own to that semaphore, or NULL if the command never got there.
void *semaphore_before_the_raise(const std::string &name);
#else
// Runs any program, found on the PATH, with its arguments.
Outcome run_program(const std::vector<std::string> &command);
// What the file holds, or "<no file>".
std::string contents_of(const std::string &file);
// The words before a command that load tests/misbehaving_calls.cpp into it, with `setting` (one
// of its variables, NAME=VALUE) in its environment.
std::vector<std::string> misbehaving(const std::string &setting);
#endif
// Starts `copies` runs with the same arguments all at once, then waits for every one.
std::vector<Outcome> run_semsignal_together(const std::vector<std::string> &arguments, int copies);

// A name of the form semsignal-test-<process>-<tag>-<n> that nothing else uses; a test run that
// sets SEMSIGNAL_TEST_RUN gets semsignal-test-<run>-<process>-..., so that it can remove what a
// run cut short leaves behind.
std::string unique_name(const std::string &tag);

// Removes, when it goes, what runs of the command leave under that name where the platform keeps
// it (POSIX semaphores outlive their users; Windows ones go with their last handle).
class LeftBehind
{
  public:
    explicit LeftBehind(const std::string &name) : name_(name) {}
    ~LeftBehind();
    LeftBehind(const LeftBehind &) = delete;
    LeftBehind &operator=(const LeftBehind &) = delete;

  private:
    std::string name_;
};

// A semaphore that the test creates under a name nobody holds, and removes again when it goes.
class TestSemaphore
{
  public:
    TestSemaphore(const std::string &name, long initial, long maximum);
    ~TestSemaphore();
    TestSemaphore(const TestSemaphore &) = delete;
    TestSemaphore &operator=(const TestSemaphore &) = delete;

    bool created() const { return handle_ != nullptr; }
    // Why it was not created: the system's error, or 0 if the name was taken already.
    long error() const { return error_; }
    // The count now; it is left as it was.
    long count();
    // Lowers the count by one if it can within timeout_ms.
    bool take(int timeout_ms);
    // Raises the count by one.
    void raise();

  private:
    std::string name_;
    void *handle_ = nullptr;
    long error_ = 0;
};

// Another thread of control that opens the named semaphore and waits on it once.
class Waiter
{
  public:
    Waiter(const std::string &name, int timeout_ms);
    ~Waiter();
    Waiter(const Waiter &) = delete;
    Waiter &operator=(const Waiter &) = delete;

    // Whether the wait completed before its time ran out.
    bool released();

  private:
    long long id_ = 0;
    int result_ = -1;
};

#endif
