/* Test-only preload library: makes a source keep growing while it is read,
 * the way a log file that another process writes does.
 *
 * After each read, pread or copy_file_range from a file whose path ends in
 * VELDRO_TEST_GROW_NAME (say "SRC/log", so that the copy does not grow), one MiB is appended to that file, for the first
 * VELDRO_TEST_GROW_TIMES such calls (default 16). Nothing else changes.
 * Built and loaded (LD_PRELOAD) by the end-to-end tests only. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int grown_so_far = 0;

static void maybe_grow(int fd) {
    const char *name = getenv("VELDRO_TEST_GROW_NAME");
    const char *times_text = getenv("VELDRO_TEST_GROW_TIMES");
    int times = times_text ? atoi(times_text) : 16;
    if (name == NULL || grown_so_far >= times) {
        return;
    }
    char link[64];
    char path[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0) {
        return;
    }
    path[n] = '\0';
    size_t length = strlen(name);
    if ((size_t)n < length || strcmp(path + n - length, name) != 0) {
        return;
    }
    int out = open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
    if (out < 0) {
        return;
    }
    static char block[1 << 20];
    memset(block, 'g', sizeof block);
    if (write(out, block, sizeof block) == (ssize_t)sizeof block) {
        ++grown_so_far;
    }
    close(out);
}

ssize_t read(int fd, void *buf, size_t count) {
    static ssize_t (*real)(int, void *, size_t) = NULL;
    if (real == NULL) {
        real = (ssize_t (*)(int, void *, size_t))dlsym(RTLD_NEXT, "read");
    }
    ssize_t n = real(fd, buf, count);
    if (n > 0) {
        maybe_grow(fd);
    }
    return n;
}

ssize_t pread64(int fd, void *buf, size_t count, off_t offset) {
    static ssize_t (*real)(int, void *, size_t, off_t) = NULL;
    if (real == NULL) {
        real = (ssize_t (*)(int, void *, size_t, off_t))dlsym(RTLD_NEXT, "pread64");
    }
    ssize_t n = real(fd, buf, count, offset);
    if (n > 0) {
        maybe_grow(fd);
    }
    return n;
}

ssize_t pread(int fd, void *buf, size_t count, off_t offset) {
    return pread64(fd, buf, count, offset);
}

ssize_t copy_file_range(int in, loff_t *in_off, int out, loff_t *out_off, size_t len, unsigned flags) {
    static ssize_t (*real)(int, loff_t *, int, loff_t *, size_t, unsigned) = NULL;
    if (real == NULL) {
        real = (ssize_t (*)(int, loff_t *, int, loff_t *, size_t, unsigned))dlsym(RTLD_NEXT, "copy_file_range");
    }
    ssize_t n = real(in, in_off, out, out_off, len, flags);
    if (n > 0) {
        maybe_grow(in);
    }
    return n;
}
