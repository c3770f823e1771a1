/* Test-only preload library: counts the bytes the program reads from one
 * file, by read, pread or copy_file_range, whose path ends in
 * VELDRO_TEST_COUNT_NAME, and writes the count to the file named by
 * VELDRO_TEST_READ_BYTES when the program ends. Nothing else changes.
 * Built and loaded (LD_PRELOAD) by the end-to-end tests only. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static long long counted = 0;

static int watched(int fd) {
    const char *name = getenv("VELDRO_TEST_COUNT_NAME");
    if (name == NULL) {
        return 0;
    }
    char link[64];
    char path[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0) {
        return 0;
    }
    path[n] = '\0';
    size_t length = strlen(name);
    return (size_t)n >= length && strcmp(path + n - length, name) == 0;
}

static void count(int fd, ssize_t n) {
    if (n > 0 && watched(fd)) {
        counted += n;
    }
}

ssize_t read(int fd, void *buf, size_t size) {
    static ssize_t (*real)(int, void *, size_t) = NULL;
    if (real == NULL) {
        real = (ssize_t (*)(int, void *, size_t))dlsym(RTLD_NEXT, "read");
    }
    ssize_t n = real(fd, buf, size);
    count(fd, n);
    return n;
}

ssize_t pread64(int fd, void *buf, size_t size, off_t offset) {
    static ssize_t (*real)(int, void *, size_t, off_t) = NULL;
    if (real == NULL) {
        real = (ssize_t (*)(int, void *, size_t, off_t))dlsym(RTLD_NEXT, "pread64");
    }
    ssize_t n = real(fd, buf, size, offset);
    count(fd, n);
    return n;
}

ssize_t pread(int fd, void *buf, size_t size, off_t offset) {
    return pread64(fd, buf, size, offset);
}

ssize_t copy_file_range(int in, loff_t *in_off, int out, loff_t *out_off, size_t len, unsigned flags) {
    static ssize_t (*real)(int, loff_t *, int, loff_t *, size_t, unsigned) = NULL;
    if (real == NULL) {
        real = (ssize_t (*)(int, loff_t *, int, loff_t *, size_t, unsigned))dlsym(RTLD_NEXT, "copy_file_range");
    }
    ssize_t n = real(in, in_off, out, out_off, len, flags);
    count(in, n);
    return n;
}

__attribute__((destructor)) static void report(void) {
    const char *target = getenv("VELDRO_TEST_READ_BYTES");
    if (target == NULL) {
        return;
    }
    FILE *f = fopen(target, "w");
    if (f != NULL) {
        fprintf(f, "%lld\n", counted);
        fclose(f);
    }
}
