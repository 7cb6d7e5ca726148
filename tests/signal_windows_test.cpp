// The command against Win32's own kernel objects, security and command-line handling.
#include "support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

namespace
{

// The system's text for an error code, as the command is to print it.
std::string error_line(const char *call, DWORD error)
{
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                  error, 0, text, sizeof text, NULL);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n'))
        length--;
    EXPECT_GT(length, 0u) << "no system text for error " << error;
    return std::string(call) + " failed: " + std::string(text, length) + "\r\n";
}

void expect_create_failure(const Outcome &outcome, DWORD error)
{
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, error_line("CreateSemaphoreA", error));
    EXPECT_EQ(outcome.err.find("No error"), std::string::npos);
    EXPECT_EQ(outcome.err.find("Success"), std::string::npos);
}

TEST(Windows, ANameNobodyHoldsIsCreatedSignalledAndGoneAgain)
{
    std::string name = unique_name("fresh");
    Outcome outcome = run_semsignal({name});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out + outcome.err, "");
    EXPECT_FALSE(semaphore_exists(name));
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
    EXPECT_EQ(outcome.err, error_line("ReleaseSemaphore", ERROR_TOO_MANY_POSTS));
    EXPECT_EQ(semaphore.count(), 3);
}

TEST(Windows, ANameOfAnotherKindOfObjectIsRefused)
{
    std::string mutex_name = unique_name("mutex");
    std::string event_name = unique_name("event");
    HANDLE mutex = CreateMutexA(NULL, FALSE, mutex_name.c_str());
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, event_name.c_str());
    ASSERT_NE(mutex, nullptr);
    ASSERT_NE(event, nullptr);

    expect_create_failure(run_semsignal({mutex_name}), ERROR_INVALID_HANDLE);
    expect_create_failure(run_semsignal({event_name}), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(mutex);
    CloseHandle(event);
}

// The command asks for every right to the semaphore: the right to raise the count is not enough.
TEST(Windows, ASemaphoreThatGrantsOnlyTheRaiseIsRefused)
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:(A;;0x0002;;;WD)", SDDL_REVISION_1, &descriptor, NULL));
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    std::string name = unique_name("modify-only");
    HANDLE semaphore = CreateSemaphoreA(&attributes, 0, 10, name.c_str());
    LocalFree(descriptor);
    ASSERT_NE(semaphore, nullptr);

    expect_create_failure(run_semsignal({name}), ERROR_ACCESS_DENIED);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(semaphore);
}

TEST(Windows, AWildcardIsANameNotAListOfFiles)
{
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    std::string directory = std::string(folder) + unique_name("files");
    ASSERT_TRUE(CreateDirectoryA(directory.c_str(), NULL));
    for (const char *file : {"\\one.txt", "\\two.txt"})
        CloseHandle(CreateFileA((directory + file).c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, NULL));
    {
        TestSemaphore star("*", 0, 10);
        TestSemaphore first_file("one.txt", 0, 10);
        ASSERT_TRUE(star.created());
        EXPECT_EQ(run_command_line("*", directory.c_str()).status, 0);
        EXPECT_EQ(star.count(), 1);
        EXPECT_EQ(first_file.count(), 0);
    }
    DeleteFileA((directory + "\\one.txt").c_str());
    DeleteFileA((directory + "\\two.txt").c_str());
    RemoveDirectoryA(directory.c_str());
}

TEST(Windows, AQuotedNameWithBlanksIsUsedWhole)
{
    std::string name = "two words " + unique_name("quoted");
    TestSemaphore semaphore(name, 0, 10);
    ASSERT_TRUE(semaphore.created());
    Outcome outcome = run_command_line("\"" + name + "\" ignored");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out + outcome.err, "");
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

TEST(Windows, ANameLongerThanThePlatformAllowsIsRefused)
{
    expect_create_failure(run_semsignal({std::string(MAX_PATH + 40, 'n')}),
                          ERROR_FILENAME_EXCED_RANGE);
}

} // namespace
