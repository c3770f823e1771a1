/* Test-only preload library: makes a copied named stream differ from its
 * source, the way a faulty disk or controller would.
 *
 * Named streams are user extended attributes on Linux, and a copy writes
 * them with fsetxattr (or setxattr/lsetxattr). When the attribute's name is
 * "user." followed by VELDRO_TEST_ALTER_STREAM, the first byte of the value
 * written is inverted. Nothing else changes. Built and loaded (LD_PRELOAD)
 * by the end-to-end tests only. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/xattr.h>

/* Gives the value to write: an altered copy in `scratch` when the
 * attribute is the one named by the environment, else the value itself. */
static const void *value_to_write(const char *name, const void *value, size_t size, unsigned char *scratch,
                                  size_t room) {
    const char *target = getenv("VELDRO_TEST_ALTER_STREAM");
    if (target == NULL || strncmp(name, "user.", 5) != 0 || strcmp(name + 5, target) != 0 || size == 0 ||
        size > room) {
        return value;
    }
    memcpy(scratch, value, size);
    scratch[0] = (unsigned char)~scratch[0];
    return scratch;
}

static unsigned char scratch_value[65536];

int fsetxattr(int fd, const char *name, const void *value, size_t size, int flags) {
    int (*real)(int, const char *, const void *, size_t, int) =
        (int (*)(int, const char *, const void *, size_t, int))dlsym(RTLD_NEXT, "fsetxattr");
    return real(fd, name, value_to_write(name, value, size, scratch_value, sizeof scratch_value), size, flags);
}

int setxattr(const char *path, const char *name, const void *value, size_t size, int flags) {
    int (*real)(const char *, const char *, const void *, size_t, int) =
        (int (*)(const char *, const char *, const void *, size_t, int))dlsym(RTLD_NEXT, "setxattr");
    return real(path, name, value_to_write(name, value, size, scratch_value, sizeof scratch_value), size, flags);
}

int lsetxattr(const char *path, const char *name, const void *value, size_t size, int flags) {
    int (*real)(const char *, const char *, const void *, size_t, int) =
        (int (*)(const char *, const char *, const void *, size_t, int))dlsym(RTLD_NEXT, "lsetxattr");
    return real(path, name, value_to_write(name, value, size, scratch_value, sizeof scratch_value), size, flags);
}
