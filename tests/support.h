// What the command's tests share on both targets: running the command that was built beside the
// test executable, and semaphores and waiters of the tests' own.
#ifndef SEMSIGNAL_TESTS_SUPPORT_H
#define SEMSIGNAL_TESTS_SUPPORT_H

#include <string>
#include <vector>

#ifdef _WIN32
inline const std::string kNewline = "\r\n";
#else
inline const std::string kNewline = "\n";
#endif

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// The command built beside the test executable.
std::string semsignal_path();
// Runs the command with these arguments, each reaching it as one argument.
Outcome run_semsignal(const std::vector<std::string> &arguments);
#ifdef _WIN32
// Runs the command with this text after its own name on the command line, in `directory` if given.
Outcome run_command_line(const std::string &arguments, const char *directory = nullptr);
#else
// Runs any program, found on the PATH, with its arguments.
Outcome run_program(const std::vector<std::string> &command);
#endif
// Starts `copies` runs with the same arguments all at once, then waits for every one.
std::vector<Outcome> run_semsignal_together(const std::vector<std::string> &arguments, int copies);

// A name of the form semsignal-test-<process>-<tag>-<n> that nothing else uses.
std::string unique_name(const std::string &tag);
bool semaphore_exists(const std::string &name);
// Removes what runs of the command left under that name, where the platform keeps it.
void forget_semaphore(const std::string &name);

// A semaphore that the test creates under a new name, and removes again when it goes.
class TestSemaphore
{
  public:
    TestSemaphore(const std::string &name, long initial, long maximum);
    ~TestSemaphore();
    TestSemaphore(const TestSemaphore &) = delete;
    TestSemaphore &operator=(const TestSemaphore &) = delete;

    bool created() const { return handle_ != nullptr; }
    // The count now; it is left as it was.
    long count();
    // Lowers the count by one if it can within timeout_ms.
    bool take(int timeout_ms);

  private:
    std::string name_;
    void *handle_ = nullptr;
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
