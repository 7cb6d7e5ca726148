// semsignal NAME: raise the count of the named semaphore by one, creating it if nobody holds it.
#include <stdio.h>
#include <windows.h>

int main(int argc, char *argv[])
{
    if (argc < 2 || argv[1][0] == '\0') {
        printf("ERROR: no semaphore name provided\n");
        return 1;
    }

    const char *failed_call = NULL;
    DWORD error = 0;
    HANDLE semaphore = CreateSemaphoreA(NULL, 0, 999, argv[1]);
    if (semaphore == NULL) {
        failed_call = "CreateSemaphoreA";
        error = GetLastError();
    } else {
        if (!ReleaseSemaphore(semaphore, 1, NULL)) {
            failed_call = "ReleaseSemaphore";
            error = GetLastError();
        }
        CloseHandle(semaphore);
    }
    if (failed_call == NULL)
        return 0;

    // The system's own text for the failure, without the line break it ends with.
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                  error, 0, text, sizeof text, NULL);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r'))
        length--;
    if (length > 0)
        fprintf(stderr, "%s failed: %.*s\n", failed_call, (int)length, text);
    else
        fprintf(stderr, "%s failed: error %lu\n", failed_call, (unsigned long)error);
    return 1;
}
