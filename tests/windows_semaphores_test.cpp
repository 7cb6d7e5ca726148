// The commands against Win32's own kernel objects and security, and names as the command line
// carries them.
#include "harness.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sddl.h>

namespace
{

void expect_create_failure(const Outcome &outcome, DWORD error)
{
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, failure_line(kOpenStep, error));
}

void expect_silent_success(const Outcome &outcome)
{
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "");
}

std::string access_list(HANDLE object)
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, NULL, NULL, NULL, NULL,
                        &descriptor) != ERROR_SUCCESS)
        return "<unreadable>";
    char *text = NULL;
    ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                         DACL_SECURITY_INFORMATION, &text, NULL);
    std::string list = text == NULL ? "<none>" : text;
    LocalFree(text);
    LocalFree(descriptor);
    return list;
}

// A C-runtime parent whose standard output is in binary mode hands that mode down to the programs
// it starts with _spawn; the usage line still ends in CR LF.
TEST(Windows, TheUsageLineEndsInCrLfUnderABinaryModeParent)
{
    // Whatever can fail, before standard output goes into the pipe that nobody reads until the
    // command ends.
    std::wstring command = wide(semsignal_path());
    int ends[2];
    ASSERT_EQ(_pipe(ends, 4096, _O_BINARY), 0);
    fflush(stdout);
    int saved = _dup(1);
    _dup2(ends[1], 1);
    _close(ends[1]);
    int mode = _setmode(1, _O_BINARY);
    intptr_t status = _wspawnl(_P_WAIT, command.c_str(), L"semsignal.exe", NULL);
    _setmode(1, mode);
    _dup2(saved, 1);
    _close(saved);
    char out[256];
    int got = _read(ends[0], out, sizeof out);
    _close(ends[0]);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(std::string(out, got > 0 ? got : 0), "ERROR: no semaphore name provided\r\n");
}

// What the command created is gone with its handle when it ends: it is caught before the raise.
TEST(Windows, ANameNobodyHoldsIsCreatedWithCount0Maximum999AndDefaultSecurity)
{
    std::string name = unique_name("fresh");
    HANDLE semaphore = semaphore_before_the_raise(name);
    ASSERT_NE(semaphore, nullptr) << "the command never came to raise the count";
    HANDLE by_default = CreateSemaphoreA(NULL, 0, 1, NULL);
    EXPECT_EQ(access_list(semaphore), access_list(by_default));
    CloseHandle(by_default);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "count > 0";
    EXPECT_TRUE(ReleaseSemaphore(semaphore, 999, NULL)) << "maximum below 999";
    EXPECT_FALSE(ReleaseSemaphore(semaphore, 1, NULL)) << "maximum above 999";
    CloseHandle(semaphore);
}

TEST(Windows, AtItsOwnMaximumTheRaiseFailsAndTheCountStays)
{
    std::string name = unique_name("full");
    TestSemaphore semaphore(name, 1, 3);
    ASSERT_TRUE(semaphore.created());
    for (int run = 0; run < 2; run++)
        EXPECT_EQ(run_semsignal({name}).status, 0);
    ASSERT_EQ(semaphore.count(), 3);

    Outcome outcome = run_semsignal({name});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, failure_line(kRaiseStep, ERROR_TOO_MANY_POSTS));
    EXPECT_EQ(semaphore.count(), 3);
}

// The refusal is the system's text alone: the name, Unicode or not, is never written.
TEST(Windows, ANameOfAnotherKindOfObjectIsRefused)
{
    std::string mutex_name = unique_name("mutex");
    std::string event_name = unique_name("event");
    std::string unicode_name = "互斥体-" + unique_name("mutex");
    HANDLE mutex = CreateMutexA(NULL, FALSE, mutex_name.c_str());
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, event_name.c_str());
    HANDLE unicode_mutex = CreateMutexW(NULL, FALSE, wide(unicode_name).c_str());
    ASSERT_NE(mutex, nullptr);
    ASSERT_NE(event, nullptr);
    ASSERT_NE(unicode_mutex, nullptr);

    for (const std::string &name : {mutex_name, event_name, unicode_name}) {
        expect_create_failure(run_semsignal({name}), ERROR_INVALID_HANDLE);
        expect_create_failure(run_semwait({name, "0"}), ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(mutex);
    CloseHandle(event);
    CloseHandle(unicode_mutex);
}

// Each command asks only for the right it needs: semsignal the right to raise the count, semwait
// the right to wait. A semaphore that grants it is raised or waited on, one that grants only the
// other is refused and keeps its count.
TEST(Windows, EachCommandAsksOnlyForTheRightItNeeds)
{
    const char *raise = "D:(A;;0x0002;;;WD)";    // SEMAPHORE_MODIFY_STATE
    const char *wait = "D:(A;;0x00100000;;;WD)"; // SYNCHRONIZE
    const struct {
        const char *security;
        bool waits;
        DWORD refusal;
        long count_after; // from a count of 1
    } cases[] = {
        {raise, false, 0, 2},
        {wait, false, ERROR_ACCESS_DENIED, 1},
        {wait, true, 0, 0},
        {raise, true, ERROR_ACCESS_DENIED, 1}, // last: Wine cannot show it
    };
    for (const auto &each : cases) {
        // Wine grants SYNCHRONIZE whatever the security says, an empty DACL's included.
        if (each.waits && each.refusal != 0 &&
            GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != NULL)
            GTEST_SKIP() << "Wine grants SYNCHRONIZE to every opener; the refusal to semwait "
                            "shows on Windows (the rows before it ran)";
        SCOPED_TRACE(std::string(each.waits ? "semwait, " : "semsignal, ") + each.security);
        PSECURITY_DESCRIPTOR descriptor = NULL;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
            each.security, SDDL_REVISION_1, &descriptor, NULL));
        SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
        std::string name = unique_name("secured");
        // The creator's handle has every right, whatever the security says of later openers.
        HANDLE semaphore = CreateSemaphoreA(&attributes, 1, 10, name.c_str());
        LocalFree(descriptor);
        ASSERT_NE(semaphore, nullptr);

        Outcome outcome = each.waits ? run_semwait({name, "0"}) : run_semsignal({name});
        if (each.refusal == 0)
            expect_silent_success(outcome);
        else
            expect_create_failure(outcome, each.refusal);
        long count = 0;
        while (WaitForSingleObject(semaphore, 0) == WAIT_OBJECT_0)
            count++;
        EXPECT_EQ(count, each.count_after);
        CloseHandle(semaphore);
    }
}

// Each name reaches the system as given, and not as the ANSI code page would carry it: the
// look-alike that the code page makes of it (the test holds it) is left alone.
TEST(Windows, EveryUnicodeNameRaisesExactlyItsOwnSemaphore)
{
    const std::string names[] = {
        "任务-" + unique_name("cjk"),
        "ａｂｃ-" + unique_name("fullwidth"),
        "Global＼" + unique_name("fullwidth-backslash"),
        "Local\\Ελληνικά-" + unique_name("greek"),
        "😀-" + unique_name("emoji"),
    };
    int look_alikes = 0;
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        TestSemaphore semaphore(name, 0, 10);
        ASSERT_TRUE(semaphore.created());
        // The semaphore the command used to open: the name in the ANSI code page, best fit
        // included, opened through the A function. Where the code page carries the name as it
        // is, that is the test's own semaphore, and there is no look-alike.
        HANDLE held = CreateSemaphoreA(NULL, 0, 10, ansi(wide(name)).c_str());
        ASSERT_NE(held, nullptr);
        bool look_alike = GetLastError() != ERROR_ALREADY_EXISTS;
        look_alikes += look_alike;

        expect_silent_success(run_semsignal({name}));
        EXPECT_EQ(semaphore.count(), 1);
        if (look_alike) {
            EXPECT_EQ(WaitForSingleObject(held, 0), static_cast<DWORD>(WAIT_TIMEOUT));
        }
        expect_silent_success(run_semwait({name, "0"}));
        EXPECT_EQ(semaphore.count(), 0);
        CloseHandle(held);
    }
    if (look_alikes == 0)
        GTEST_SKIP() << "the ANSI code page " << GetACP() << " carries every name as it is";
}

// A program built for the ANSI code page passes a name in that code page; it reaches the same
// semaphore as when the command opened it by its ANSI name.
TEST(Windows, AnAnsiLauncherReachesTheSemaphoreOfItsName)
{
    std::string name = "café-" + unique_name("latin1");
    BOOL lossy = FALSE;
    std::wstring text = wide(name);
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                        NULL, 0, NULL, GetACP() == CP_UTF8 ? NULL : &lossy);
    if (lossy)
        GTEST_SKIP() << "the ANSI code page " << GetACP() << " has no é";
    TestSemaphore semaphore(name, 0, 10);
    ASSERT_TRUE(semaphore.created());
    expect_silent_success(run_ansi_command_line(name));
    EXPECT_EQ(semaphore.count(), 1);
}

// A folder of the test's own under %TEMP%, and the files made in it, removed when it goes, even
// when an assertion has failed.
struct TemporaryFolder {
    explicit TemporaryFolder(const std::string &tag)
        : path(temporary_folder() + unique_name(tag)),
          made(CreateDirectoryW(wide(path).c_str(), NULL) != FALSE)
    {
    }
    ~TemporaryFolder()
    {
        for (const std::string &file : files)
            DeleteFileW(wide(path + "\\" + file).c_str());
        if (made)
            RemoveDirectoryW(wide(path).c_str());
    }
    TemporaryFolder(const TemporaryFolder &) = delete;
    TemporaryFolder &operator=(const TemporaryFolder &) = delete;

    bool add(const std::string &file)
    {
        files.push_back(file);
        HANDLE handle = CreateFileW(wide(path + "\\" + file).c_str(), GENERIC_WRITE, 0, NULL,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
        return handle != INVALID_HANDLE_VALUE && CloseHandle(handle);
    }

    const std::string path;
    const bool made;
    std::vector<std::string> files;
};

TEST(Windows, AWildcardIsANameNotAListOfFiles)
{
    TemporaryFolder folder("files");
    ASSERT_TRUE(folder.made);
    std::string prefix = unique_name("file");
    for (const char *file : {"-one.txt", "-two.txt"})
        ASSERT_TRUE(folder.add(prefix + file));
    TestSemaphore pattern(prefix + "-*", 0, 10);
    TestSemaphore first_file(prefix + "-one.txt", 0, 10);
    ASSERT_TRUE(pattern.created());
    ASSERT_TRUE(first_file.created());
    EXPECT_EQ(run_command_line(prefix + "-*", folder.path.c_str()).status, 0);
    EXPECT_EQ(pattern.count(), 1);
    EXPECT_EQ(first_file.count(), 0);
}

TEST(Windows, AQuotedNameWithBlanksIsUsedWhole)
{
    std::string name = "two words " + unique_name("quoted");
    TestSemaphore semaphore(name, 0, 10);
    ASSERT_TRUE(semaphore.created());
    expect_silent_success(run_command_line("\"" + name + "\" ignored"));
    EXPECT_EQ(semaphore.count(), 1);
}

TEST(Windows, GlobalAndLocalNamespacePrefixesReachTheirNamespace)
{
    std::string global_name = "Global\\" + unique_name("global");
    std::string local_name = unique_name("local");
    TestSemaphore global(global_name, 0, 10);
    TestSemaphore local(local_name, 0, 10);
    ASSERT_TRUE(global.created());
    ASSERT_TRUE(local.created());

    EXPECT_EQ(run_semsignal({global_name}).status, 0);
    EXPECT_EQ(run_semsignal({"Local\\" + local_name}).status, 0);
    EXPECT_EQ(global.count(), 1);
    EXPECT_EQ(local.count(), 1);
}

// The command sets no limit of its own: a name longer than MAX_PATH reaches the system whole.
TEST(Windows, ANameLongerThanMaxPathReachesTheSystemWhole)
{
    std::string name = unique_name("long") + std::string(MAX_PATH, 'n');
    TestSemaphore semaphore(name, 0, 10);
    TestSemaphore cut(name.substr(0, MAX_PATH - 1), 0, 10);
    ASSERT_TRUE(semaphore.created());
    ASSERT_TRUE(cut.created());
    expect_silent_success(run_semsignal({name}));
    EXPECT_EQ(semaphore.count(), 1);
    EXPECT_EQ(cut.count(), 0);
}

} // namespace
