/* Test-only preload library: makes a copy differ from its source right
 * after the copy is complete, the way a faulty disk or controller would.
 *
 * Every completed copy ends by giving its temporary file the destination
 * name: a rename, or a link of an unnamed temporary file. After either onto
 * a file whose name equals VELDRO_TEST_CORRUPT_NAME, the first byte of the
 * file is inverted, for the first VELDRO_TEST_CORRUPT_TIMES such copies
 * (default 1). Nothing else changes.
 * Built and loaded (LD_PRELOAD) by the end-to-end tests only. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int corrupted_so_far = 0;

static const char *leaf(const char *path) {
    const char *slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

static void maybe_corrupt(int dirfd, const char *path) {
    const char *name = getenv("VELDRO_TEST_CORRUPT_NAME");
    const char *times_text = getenv("VELDRO_TEST_CORRUPT_TIMES");
    int times = times_text ? atoi(times_text) : 1;
    if (name == NULL || strcmp(leaf(path), name) != 0 || corrupted_so_far >= times) {
        return;
    }
    int fd = openat(dirfd, path, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    unsigned char byte = 0;
    if (pread(fd, &byte, 1, 0) == 1) {
        byte = (unsigned char)~byte;
        if (pwrite(fd, &byte, 1, 0) == 1) {
            ++corrupted_so_far;
        }
    }
    close(fd);
}

int rename(const char *from, const char *to) {
    int (*real)(const char *, const char *) = (int (*)(const char *, const char *))dlsym(RTLD_NEXT, "rename");
    int rc = real(from, to);
    if (rc == 0) {
        maybe_corrupt(AT_FDCWD, to);
    }
    return rc;
}

int renameat(int olddirfd, const char *from, int newdirfd, const char *to) {
    int (*real)(int, const char *, int, const char *) =
        (int (*)(int, const char *, int, const char *))dlsym(RTLD_NEXT, "renameat");
    int rc = real(olddirfd, from, newdirfd, to);
    if (rc == 0) {
        maybe_corrupt(newdirfd, to);
    }
    return rc;
}

int renameat2(int olddirfd, const char *from, int newdirfd, const char *to, unsigned int flags) {
    int (*real)(int, const char *, int, const char *, unsigned int) =
        (int (*)(int, const char *, int, const char *, unsigned int))dlsym(RTLD_NEXT, "renameat2");
    int rc = real(olddirfd, from, newdirfd, to, flags);
    if (rc == 0) {
        maybe_corrupt(newdirfd, to);
    }
    return rc;
}

int linkat(int olddirfd, const char *from, int newdirfd, const char *to, int flags) {
    int (*real)(int, const char *, int, const char *, int) =
        (int (*)(int, const char *, int, const char *, int))dlsym(RTLD_NEXT, "linkat");
    int rc = real(olddirfd, from, newdirfd, to, flags);
    if (rc == 0) {
        maybe_corrupt(newdirfd, to);
    }
    return rc;
}

int link(const char *from, const char *to) {
    int (*real)(const char *, const char *) = (int (*)(const char *, const char *))dlsym(RTLD_NEXT, "link");
    int rc = real(from, to);
    if (rc == 0) {
        maybe_corrupt(AT_FDCWD, to);
    }
    return rc;
}
