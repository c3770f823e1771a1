/* Test-only preload library: slows the copying of large files, the way a
 * slow drive would, so that a test can interrupt a run while its copies go
 * on however fast the machine is.
 *
 * Every copy_file_range, write or pwrite of 64 KiB or more waits about
 * 1.2 ms per 64 KiB before it runs (150 ms per 8 MiB). Nothing else
 * changes. Built and loaded (LD_PRELOAD) by the end-to-end tests only. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

static void wait_for(size_t count) {
    if (count < 65536) {
        return;
    }
    long long ns = (long long)(count >> 16) * 1200000LL;
    struct timespec left = {(time_t)(ns / 1000000000LL), (long)(ns % 1000000000LL)};
    while (nanosleep(&left, &left) != 0) {
    }
}

ssize_t copy_file_range(int in, off_t* in_at, int out, off_t* out_at, size_t count, unsigned flags) {
    static ssize_t (*real)(int, off_t*, int, off_t*, size_t, unsigned) = NULL;
    if (real == NULL) {
        real = (ssize_t(*)(int, off_t*, int, off_t*, size_t, unsigned))dlsym(RTLD_NEXT, "copy_file_range");
    }
    wait_for(count);
    return real(in, in_at, out, out_at, count, flags);
}

ssize_t write(int fd, const void* data, size_t count) {
    static ssize_t (*real)(int, const void*, size_t) = NULL;
    if (real == NULL) {
        real = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    }
    wait_for(count);
    return real(fd, data, count);
}

ssize_t pwrite(int fd, const void* data, size_t count, off_t offset) {
    static ssize_t (*real)(int, const void*, size_t, off_t) = NULL;
    if (real == NULL) {
        real = (ssize_t(*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, "pwrite");
    }
    wait_for(count);
    return real(fd, data, count, offset);
}
