/* Holds a file open for writing, as a program still writing evidence
 * would, for the given seconds; prints "held" once it is open. With a
 * third argument "alone" nobody else may open it meanwhile. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 && argc != 4) {
        return 2;
    }
    const DWORD share = argc == 4 && wcscmp(argv[3], L"alone") == 0 ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE h = CreateFileW(argv[1], GENERIC_WRITE, share, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        return 1;
    }
    printf("held\n");
    fflush(stdout);
    Sleep((DWORD)_wtoi(argv[2]) * 1000);
    CloseHandle(h);
    return 0;
}
