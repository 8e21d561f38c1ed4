/* Preloaded into veraxo-analyze by its tests: notes each fsync/fdatasync (by the path of the file synced)
   and each rename, in order, in the file SYNC_ORDER_LOG names, then does the real call. */

#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static void note(const char* what, const char* a, const char* b) {
    const char* log = getenv("SYNC_ORDER_LOG");
    if (!log)
        return;
    char line[3 * 4096 + 16];
    const int n = snprintf(line, sizeof line, "%s %s%s%s\n", what, a, b ? " " : "", b ? b : "");
    const int fd = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    if (write(fd, line, n > 0 && (size_t)n < sizeof line ? (size_t)n : 0) < 0)
        line[0] = 0;
    close(fd);
}

static void noteSync(int fd) {
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    path[n > 0 ? n : 0] = 0;
    note("sync", path, NULL);
}

int fsync(int fd) {
    noteSync(fd);
    int (*real)(int) = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    return real(fd);
}

int fdatasync(int fd) {
    noteSync(fd);
    int (*real)(int) = (int (*)(int))dlsym(RTLD_NEXT, "fdatasync");
    return real(fd);
}

int rename(const char* from, const char* to) {
    note("rename", from, to);
    int (*real)(const char*, const char*) = (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
    return real(from, to);
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
    note("rename", from, to);
    int (*real)(int, const char*, int, const char*) =
        (int (*)(int, const char*, int, const char*))dlsym(RTLD_NEXT, "renameat");
    return real(fromDir, from, toDir, to);
}
