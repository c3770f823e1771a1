/* Test-only preload library: rewrites a source between the look that found
 * it and the open that copies it, the way another process writing the file
 * meanwhile would.
 *
 * Before an open for reading of a file whose path ends in
 * VELDRO_TEST_REWRITE_NAME (say "SRC/a.txt"), the file is rewritten with
 * the bytes of VELDRO_TEST_REWRITE_TEXT and its last-write time moved one
 * hour ahead, for the first VELDRO_TEST_REWRITE_TIMES such opens (default
 * 1). Nothing else changes.
 * Built and loaded (LD_PRELOAD) by the end-to-end tests only. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static int rewritten_so_far = 0;

static int (*real_openat(void))(int, const char *, int, ...) {
    return (int (*)(int, const char *, int, ...))dlsym(RTLD_NEXT, "openat");
}

static void maybe_rewrite(int dirfd, const char *path, int flags) {
    const char *name = getenv("VELDRO_TEST_REWRITE_NAME");
    const char *text = getenv("VELDRO_TEST_REWRITE_TEXT");
    const char *times_text = getenv("VELDRO_TEST_REWRITE_TIMES");
    int times = times_text ? atoi(times_text) : 1;
    if (name == NULL || text == NULL || (flags & O_ACCMODE) != O_RDONLY || rewritten_so_far >= times) {
        return;
    }
    int probe = real_openat()(dirfd, path, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (probe < 0) {
        return;
    }
    char link[64];
    char full[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", probe);
    ssize_t n = readlink(link, full, sizeof full - 1);
    close(probe);
    size_t length = strlen(name);
    if (n <= 0) {
        return;
    }
    full[n] = '\0';
    if ((size_t)n < length || strcmp(full + n - length, name) != 0) {
        return;
    }
    struct stat st;
    int out = real_openat()(AT_FDCWD, full, O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (out < 0) {
        return;
    }
    if (write(out, text, strlen(text)) == (ssize_t)strlen(text) && fstat(out, &st) == 0) {
        struct timespec ts[2] = {st.st_atim, st.st_mtim};
        ts[1].tv_sec += 3600;
        futimens(out, ts);
        ++rewritten_so_far;
    }
    close(out);
}

int openat(int dirfd, const char *path, int flags, ...) {
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    maybe_rewrite(dirfd, path, flags);
    return real_openat()(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char *path, int flags, ...) {
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    maybe_rewrite(dirfd, path, flags);
    return real_openat()(dirfd, path, flags, mode);
}
