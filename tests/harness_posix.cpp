// The tests' helpers over POSIX processes and named semaphores.
#include "harness.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <semaphore.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

extern char **environ;

std::ostream &operator<<(std::ostream &stream, const Ending &ending)
{
    if (ending.signal != 0)
        return stream << "killed by " << strsignal(ending.signal);
    return stream << "exited with " << ending.status;
}

std::string failure_line(const std::string &step, long error)
{
    return step + " failed: " + strerror(static_cast<int>(error)) + "\n";
}

namespace
{

std::string beside_the_tests(const std::string &command)
{
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        throw std::runtime_error("cannot tell where the test executable is");
    std::string path(self, length);
    return path.substr(0, path.rfind('/') + 1) + command;
}

} // namespace

std::string semsignal_path()
{
    return beside_the_tests("semsignal");
}

std::string semwait_path()
{
    return beside_the_tests("semwait");
}

std::string semhold_path()
{
    return beside_the_tests("semhold");
}

namespace
{

struct Started {
    pid_t pid;
    int out;
    int err;
};

Started start(const std::vector<std::string> &command)
{
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    std::vector<char *> argv;
    for (const std::string &word : command)
        argv.push_back(const_cast<char *>(word.c_str()));
    argv.push_back(nullptr);
    // The signals that end a wait reach each program with their default action, however the
    // tests were started (a background job of a shell ignores SIGINT).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    int failed = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    if (failed != 0)
        throw std::runtime_error("cannot start " + command[0]);
    return {pid, out[0], err[0]};
}

// Both streams are read to their end before the exit status is taken, so that a child that writes
// more than a pipe holds is never left waiting for us.
Outcome finish(const Started &started)
{
    Outcome outcome;
    pollfd streams[2] = {{started.out, POLLIN, 0}, {started.err, POLLIN, 0}};
    std::string *texts[2] = {&outcome.out, &outcome.err};
    for (int open = 2; open > 0;) {
        if (poll(streams, 2, -1) < 0 && errno != EINTR)
            throw std::runtime_error("poll failed");
        for (int i = 0; i < 2; i++) {
            if (streams[i].fd < 0 || streams[i].revents == 0)
                continue;
            char buffer[4096];
            ssize_t got = read(streams[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                texts[i]->append(buffer, got);
            } else if (got == 0 || errno != EINTR) {
                close(streams[i].fd);
                streams[i].fd = -1;
                open--;
            }
        }
    }
    int status = 0;
    while (waitpid(started.pid, &status, 0) < 0 && errno == EINTR) {
    }
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return outcome;
}

std::vector<std::string> command_of(const std::string &path,
                                    const std::vector<std::string> &arguments)
{
    std::vector<std::string> command{path};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return command;
}

} // namespace

Outcome run_program(const std::vector<std::string> &command)
{
    return finish(start(command));
}

Outcome run_semsignal(const std::vector<std::string> &arguments)
{
    return run_program(command_of(semsignal_path(), arguments));
}

Outcome run_semwait(const std::vector<std::string> &arguments)
{
    return run_program(command_of(semwait_path(), arguments));
}

Outcome run_semhold(const std::vector<std::string> &arguments)
{
    return run_program(command_of(semhold_path(), arguments));
}

RunningWait::RunningWait(const std::vector<std::string> &arguments, bool holding)
{
    Started started = start(command_of(holding ? semhold_path() : semwait_path(), arguments));
    process_ = started.pid;
    out_ = started.out;
    err_ = started.err;
}

Outcome RunningWait::outcome()
{
    if (!finished_) {
        finished_ = true;
        outcome_ =
            finish({static_cast<pid_t>(process_), static_cast<int>(out_), static_cast<int>(err_)});
    }
    return outcome_;
}

// A wait that is still going when the test ends is ended, so that no process is left behind.
RunningWait::~RunningWait()
{
    if (!finished_)
        kill(static_cast<pid_t>(process_), SIGKILL);
    outcome();
}

std::vector<Outcome> run_semsignal_together(const std::vector<std::string> &arguments, int copies)
{
    std::vector<Started> started;
    for (int i = 0; i < copies; i++)
        started.push_back(start(command_of(semsignal_path(), arguments)));
    std::vector<Outcome> outcomes;
    for (const Started &run : started)
        outcomes.push_back(finish(run));
    return outcomes;
}

std::string unique_name(const std::string &tag)
{
    static int counter = 0;
    const char *run = getenv("SEMSIGNAL_TEST_RUN");
    return "semsignal-test-" + (run == nullptr ? "" : std::string(run) + "-") +
           std::to_string(getpid()) + "-" + tag + "-" + std::to_string(++counter);
}

LeftBehind::~LeftBehind()
{
    sem_unlink(("/" + name_).c_str());
}

TestSemaphore::TestSemaphore(const std::string &name, long initial, long /*maximum*/) : name_(name)
{
    sem_t *semaphore = sem_open(("/" + name).c_str(), O_CREAT | O_EXCL, 0600, initial);
    if (semaphore == SEM_FAILED)
        error_ = errno == EEXIST ? 0 : errno;
    else
        handle_ = semaphore;
}

TestSemaphore::~TestSemaphore()
{
    if (handle_ != nullptr) {
        sem_close(static_cast<sem_t *>(handle_));
        sem_unlink(("/" + name_).c_str());
    }
}

long TestSemaphore::count()
{
    int value = -1;
    sem_getvalue(static_cast<sem_t *>(handle_), &value);
    return value;
}

namespace
{

timespec deadline_after(int timeout_ms)
{
    timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += timeout_ms / 1000;
    deadline.tv_nsec += (timeout_ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec++;
        deadline.tv_nsec -= 1000000000L;
    }
    return deadline;
}

bool timed_wait(sem_t *semaphore, int timeout_ms)
{
    timespec deadline = deadline_after(timeout_ms);
    int result;
    while ((result = sem_timedwait(semaphore, &deadline)) != 0 && errno == EINTR) {
    }
    return result == 0;
}

} // namespace

bool TestSemaphore::take(int timeout_ms)
{
    return timed_wait(static_cast<sem_t *>(handle_), timeout_ms);
}

void TestSemaphore::raise()
{
    sem_post(static_cast<sem_t *>(handle_));
}

// The waiter is a child process that knows the semaphore only by its name.
Waiter::Waiter(const std::string &name, int timeout_ms)
{
    pid_t pid = fork();
    if (pid == 0) {
        sem_t *semaphore = sem_open(("/" + name).c_str(), 0);
        _exit(semaphore != SEM_FAILED && timed_wait(semaphore, timeout_ms) ? 0 : 1);
    }
    id_ = pid;
}

bool Waiter::released()
{
    if (result_ < 0 && id_ > 0) {
        int status = 0;
        while (waitpid(static_cast<pid_t>(id_), &status, 0) < 0 && errno == EINTR) {
        }
        result_ = WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 1 : 0;
    }
    return result_ == 1;
}

Waiter::~Waiter()
{
    released();
}

std::string contents_of(const std::string &file)
{
    std::ifstream stream(file, std::ios::binary);
    return stream ? std::string{std::istreambuf_iterator<char>(stream), {}} : "<no file>";
}

std::vector<std::string> misbehaving(const std::string &setting)
{
    // The sanitizers' run-time then is not the first library loaded, which they allow when told.
    return {"env", "ASAN_OPTIONS=verify_asan_link_order=0",
            "LD_PRELOAD=" + beside_the_tests("libmisbehaving_calls.so"), setting};
}
