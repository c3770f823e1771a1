/* Test-only preload library: makes the first publishes of a copy fail, the
 * way a disk that reports a transient error would.
 *
 * A copy takes the destination name by a rename, or by a link of an unnamed
 * temporary file. Each of these onto a file whose name equals
 * VELDRO_TEST_FAIL_PUBLISH_NAME fails with EIO, for the first
 * VELDRO_TEST_FAIL_PUBLISH_TIMES such calls (default 2: both ways of the
 * first copy); nothing is changed by a failed call.
 * Built and loaded (LD_PRELOAD) by the end-to-end tests only. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

static int failed_so_far = 0;

static int should_fail(const char *path) {
    const char *name = getenv("VELDRO_TEST_FAIL_PUBLISH_NAME");
    const char *times_text = getenv("VELDRO_TEST_FAIL_PUBLISH_TIMES");
    int times = times_text ? atoi(times_text) : 2;
    const char *slash = strrchr(path, '/');
    const char *leaf = slash ? slash + 1 : path;
    if (name == NULL || strcmp(leaf, name) != 0 || failed_so_far >= times) {
        return 0;
    }
    ++failed_so_far;
    errno = EIO;
    return 1;
}

int rename(const char *from, const char *to) {
    if (should_fail(to)) {
        return -1;
    }
    int (*real)(const char *, const char *) = (int (*)(const char *, const char *))dlsym(RTLD_NEXT, "rename");
    return real(from, to);
}

int renameat(int olddirfd, const char *from, int newdirfd, const char *to) {
    if (should_fail(to)) {
        return -1;
    }
    int (*real)(int, const char *, int, const char *) =
        (int (*)(int, const char *, int, const char *))dlsym(RTLD_NEXT, "renameat");
    return real(olddirfd, from, newdirfd, to);
}

int renameat2(int olddirfd, const char *from, int newdirfd, const char *to, unsigned int flags) {
    if (should_fail(to)) {
        return -1;
    }
    int (*real)(int, const char *, int, const char *, unsigned int) =
        (int (*)(int, const char *, int, const char *, unsigned int))dlsym(RTLD_NEXT, "renameat2");
    return real(olddirfd, from, newdirfd, to, flags);
}

int linkat(int olddirfd, const char *from, int newdirfd, const char *to, int flags) {
    if (should_fail(to)) {
        return -1;
    }
    int (*real)(int, const char *, int, const char *, int) =
        (int (*)(int, const char *, int, const char *, int))dlsym(RTLD_NEXT, "linkat");
    return real(olddirfd, from, newdirfd, to, flags);
}
