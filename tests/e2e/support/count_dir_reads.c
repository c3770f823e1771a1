/* Test-only preload library: counts the directories the program opens for
 * reading (opendir and fdopendir) and writes the count to the file named by
 * VELDRO_TEST_DIR_READS when the program ends. Nothing else changes.
 * Built and loaded (LD_PRELOAD) by the end-to-end tests only. */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

static long reads = 0;

DIR *opendir(const char *name) {
    static DIR *(*real)(const char *) = NULL;
    if (real == NULL) {
        real = (DIR * (*)(const char *)) dlsym(RTLD_NEXT, "opendir");
    }
    ++reads;
    return real(name);
}

DIR *fdopendir(int fd) {
    static DIR *(*real)(int) = NULL;
    if (real == NULL) {
        real = (DIR * (*)(int)) dlsym(RTLD_NEXT, "fdopendir");
    }
    ++reads;
    return real(fd);
}

__attribute__((destructor)) static void write_count(void) {
    const char *target = getenv("VELDRO_TEST_DIR_READS");
    if (target == NULL) {
        return;
    }
    FILE *out = fopen(target, "w");
    if (out != NULL) {
        fprintf(out, "%ld\n", reads);
        fclose(out);
    }
}
