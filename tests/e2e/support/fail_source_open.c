/* Test-only preload library: makes one source file unreadable, the way a
 * file locked by another program or refused by the system would be, even
 * to root.
 *
 * Every open for reading (open, openat and their 64-bit forms, O_PATH
 * opens aside) of a file or directory whose last name equals
 * VELDRO_TEST_UNREADABLE_NAME fails with EACCES; with
 * VELDRO_TEST_UNREADABLE_FROM=n, only the n-th such open and those after it
 * (a directory refused after it was first read). Nothing else changes.
 * Built and loaded (LD_PRELOAD) by the end-to-end tests only. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

static int refused(const char* path, int flags) {
    const char* name = getenv("VELDRO_TEST_UNREADABLE_NAME");
    if (name == NULL || path == NULL || (flags & O_PATH) != 0 || (flags & O_ACCMODE) != O_RDONLY) {
        return 0;
    }
    size_t end = strlen(path);
    while (end > 1 && path[end - 1] == '/') {
        --end; /* a directory named with a trailing separator */
    }
    size_t start = end;
    while (start > 0 && path[start - 1] != '/') {
        --start;
    }
    if (end - start != strlen(name) || strncmp(path + start, name, end - start) != 0) {
        return 0;
    }
    static int opens = 0;
    const char* from = getenv("VELDRO_TEST_UNREADABLE_FROM");
    return ++opens >= (from ? atoi(from) : 1);
}

#define FORWARD_OPENAT(fn)                                                     \
    int fn(int dirfd, const char* path, int flags, ...) {                      \
        mode_t mode = 0;                                                       \
        if (flags & (O_CREAT | O_TMPFILE)) {                                   \
            va_list ap;                                                        \
            va_start(ap, flags);                                               \
            mode = va_arg(ap, mode_t);                                         \
            va_end(ap);                                                        \
        }                                                                      \
        if (refused(path, flags)) {                                            \
            errno = EACCES;                                                    \
            return -1;                                                         \
        }                                                                      \
        static int (*real)(int, const char*, int, ...) = NULL;                 \
        if (real == NULL) {                                                    \
            real = (int (*)(int, const char*, int, ...))dlsym(RTLD_NEXT, #fn); \
        }                                                                      \
        return real(dirfd, path, flags, mode);                                 \
    }

#define FORWARD_OPEN(fn)                                                  \
    int fn(const char* path, int flags, ...) {                            \
        mode_t mode = 0;                                                  \
        if (flags & (O_CREAT | O_TMPFILE)) {                              \
            va_list ap;                                                   \
            va_start(ap, flags);                                          \
            mode = va_arg(ap, mode_t);                                    \
            va_end(ap);                                                   \
        }                                                                 \
        if (refused(path, flags)) {                                       \
            errno = EACCES;                                               \
            return -1;                                                    \
        }                                                                 \
        static int (*real)(const char*, int, ...) = NULL;                 \
        if (real == NULL) {                                               \
            real = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, #fn); \
        }                                                                 \
        return real(path, flags, mode);                                   \
    }

FORWARD_OPENAT(openat)
FORWARD_OPENAT(openat64)
FORWARD_OPEN(open)
FORWARD_OPEN(open64)
