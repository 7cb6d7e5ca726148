// The test program's entry on Windows, where it also runs on its own, from run-tests.cmd: with
// --log FILE, what the tests print goes to the console and into FILE alike, and the last line
// says how the run went.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#include <memory>
#include <string>
#include <thread>

namespace
{

// From its making to its end, standard output and standard error go to where they went before
// and into the log as well.
class Tee
{
  public:
    explicit Tee(const char *log) : log_(fopen(log, "wb"))
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

} // namespace

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    const char *log = nullptr;
    if (argc == 3 && strcmp(argv[1], "--log") == 0) {
        log = argv[2];
    } else if (argc > 1) {
        fprintf(stderr, "usage: semsignal_tests [GoogleTest's flags] [--log FILE]\n");
        return 2;
    }
    std::unique_ptr<Tee> tee;
    if (log != nullptr) {
        tee = std::make_unique<Tee>(log);
        if (!tee->copying()) {
            fprintf(stderr, "semsignal_tests: cannot write %s\n", log);
            return 2;
        }
    }
    int status = RUN_ALL_TESTS();
    print_verdict(*testing::UnitTest::GetInstance());
    return status;
}
