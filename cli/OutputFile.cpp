// Writing in place is what the path asks for when it is not a plain file: replacing a FIFO leaves its
// reader waiting, replacing a device node destroys it, and reopening /dev/fd/N would lose the shell's
// offset and append mode, so the descriptor itself is duplicated. Only a regular file is replaced, and
// only by rename(), which is atomic within its folder.
//
// Temporary names are kept in fixed slots so a signal handler can remove them when an interrupt ends
// the run; several outputs may be open at once, from several threads.

#include "OutputFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <mutex>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int TEMP_SLOTS = 64;
constexpr int MAX_LINKS = 40;

char tempNames[TEMP_SLOTS][PATH_MAX];
// A slot's name is written before its flag is set; the handler may run on any thread, so the flag is
// an atomic (lock-free, hence safe in a handler) rather than a volatile.
std::atomic<int> tempUsed[TEMP_SLOTS];
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the slots' flags");
std::mutex tempMutex;
bool handlersInstalled = false;

extern "C" void removeTempsAndStop(int sig) {
    for (int i = 0; i < TEMP_SLOTS; ++i)
        if (tempUsed[i].load())
            ::unlink(tempNames[i]);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

int watchTemp(const std::string& path) {
    if (path.size() >= sizeof tempNames[0])
        return -1;
    std::lock_guard<std::mutex> lock(tempMutex);
    for (int i = 0; i < TEMP_SLOTS; ++i) {
        if (tempUsed[i].load())
            continue;
        std::memcpy(tempNames[i], path.c_str(), path.size() + 1);
        tempUsed[i].store(1);
        if (!handlersInstalled) {
            for (int sig : {SIGINT, SIGTERM, SIGHUP})
                std::signal(sig, &removeTempsAndStop);
            handlersInstalled = true;
        }
        return i;
    }
    return -1;
}

void unwatchTemp(int slot) {
    if (slot < 0)
        return;
    std::lock_guard<std::mutex> lock(tempMutex);
    tempUsed[slot].store(0);
}

// The descriptor a path such as /dev/stdout or /dev/fd/3 stands for, or -1.
int namedDescriptor(const std::string& path) {
    if (path == "/dev/stdin")
        return 0;
    if (path == "/dev/stdout")
        return 1;
    if (path == "/dev/stderr")
        return 2;
    for (const char* prefix : {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/"}) {
        const std::size_t length = std::strlen(prefix);
        if (path.compare(0, length, prefix) != 0 || path.size() == length || path.size() > length + 9)
            continue;
        int fd = 0;
        for (std::size_t i = length; i < path.size(); ++i) {
            if (path[i] < '0' || path[i] > '9')
                return -1;
            fd = fd * 10 + (path[i] - '0');
        }
        return fd;
    }
    return -1;
}

// Whether this user may write the file; the superuser, whom access() always lets through, is held to
// the mode bits so that a read-only file stays read-only.
int writeAccess(const std::string& path, const struct stat& st) {
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
        return errno;
    if (::geteuid() == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return EACCES;
    return 0;
}

// A fresh file beside target, created with the given mode (the umask applies).
int createTemp(const std::string& target, mode_t mode, std::string& name) {
    static std::atomic<unsigned> counter(0);
    std::random_device seed;
    std::mt19937 rng(seed() ^ (static_cast<unsigned>(::getpid()) << 16) ^ counter.fetch_add(1));
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%06x", static_cast<unsigned>(rng() & 0xffffff));
        name = target + suffix;
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

} // namespace

OutputFile::OutputFile() : _stream(0), _inPlace(false), _tempSlot(-1) {}

OutputFile::~OutputFile() {
    discard();
}

bool OutputFile::fail(int error) {
    return fail(std::string(std::strerror(error)));
}

bool OutputFile::fail(const std::string& reason) {
    discard();
    _error = reason;
    return false;
}

bool OutputFile::attach(int fd) {
    _stream = ::fdopen(fd, "w");
    if (!_stream) {
        const int error = errno;
        ::close(fd);
        return fail(error);
    }
    std::setvbuf(_stream, 0, _IOFBF, 1 << 16);
    return true;
}

bool OutputFile::names(const std::string& path, int fd) {
    struct stat target, st;
    if (path.empty() || ::fstat(fd, &st) != 0)
        return false;
    const int named = namedDescriptor(path);
    const int found = named >= 0 ? ::fstat(named, &target) : ::stat(path.c_str(), &target);
    return found == 0 && target.st_dev == st.st_dev && target.st_ino == st.st_ino;
}

bool OutputFile::open(const std::string& path) {
    discard();
    _error.clear();
    _inPlace = false;
    if (path.empty())
        return fail(ENOENT);

    // Follow symbolic links by hand: a dangling one names the file to create.
    std::string target = path;
    for (int links = 0;; ++links) {
        const int named = namedDescriptor(target);
        if (named >= 0) {
            const int flags = ::fcntl(named, F_GETFL);
            if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY)
                return fail(EBADF);
            const int fd = ::fcntl(named, F_DUPFD_CLOEXEC, 3);
            if (fd < 0)
                return fail(errno);
            _inPlace = true;
            _target = target;
            return attach(fd);
        }
        struct stat link;
        if (::lstat(target.c_str(), &link) != 0 || !S_ISLNK(link.st_mode))
            break;
        if (links == MAX_LINKS)
            return fail(ELOOP);
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(target.c_str(), buffer, sizeof buffer);
        if (n < 0)
            return fail(errno);
        if (n == static_cast<ssize_t>(sizeof buffer))
            return fail(ENAMETOOLONG);
        std::string next(buffer, static_cast<std::size_t>(n));
        const std::size_t slash = target.rfind('/');
        if (next[0] != '/' && slash != std::string::npos)
            next = target.substr(0, slash + 1) + next;
        target = next;
    }
    _target = target;

    struct stat st;
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT)
        return fail(errno);
    if (exists) {
        if (S_ISDIR(st.st_mode))
            return fail(EISDIR);
        if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode))
            return fail("not a regular file, FIFO or character device");
        if (const int error = writeAccess(target, st))
            return fail(error);
        if (!S_ISREG(st.st_mode)) {
            const int fd = ::open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
            if (fd < 0)
                return fail(errno);
            _inPlace = true;
            return attach(fd);
        }
    }

    const int fd = createTemp(target, exists ? S_IRUSR | S_IWUSR : 0666, _tempPath);
    if (fd < 0) {
        const int error = errno;
        _tempPath.clear();
        return fail(error);
    }
    _tempSlot = watchTemp(_tempPath);
    if (exists) {
        // The owner first, as changing it clears the set-id bits the mode restores. Only the superuser
        // may give a file away; anyone else's replacement stays theirs.
        if (::fchown(fd, st.st_uid, st.st_gid) != 0)
            errno = 0;
        ::fchmod(fd, st.st_mode & 07777);
    }
    return attach(fd);
}

void OutputFile::startWriteBack() {
#ifdef __linux__
    if (_stream && !_inPlace)
        ::sync_file_range(fileno(_stream), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

bool OutputFile::commit() {
    if (!_stream)
        return fail(_error.empty() ? std::string(std::strerror(EBADF)) : _error);
    int error = 0;
    errno = 0;
    if (std::fflush(_stream) != 0 || std::ferror(_stream))
        error = errno ? errno : EIO;
    // A replaced file must reach the disk before the rename makes it the one the path names.
    if (!error && !_inPlace && ::fsync(fileno(_stream)) != 0)
        error = errno;
    if (std::fclose(_stream) != 0 && !error)
        error = errno;
    _stream = 0;
    if (!error && !_inPlace && std::rename(_tempPath.c_str(), _target.c_str()) != 0)
        error = errno;
    if (!error) {
        unwatchTemp(_tempSlot);
        _tempSlot = -1;
        _tempPath.clear();
        return true;
    }
    return fail(error);
}

void OutputFile::discard() {
    if (_stream)
        std::fclose(_stream);
    _stream = 0;
    if (!_tempPath.empty())
        ::unlink(_tempPath.c_str());
    _tempPath.clear();
    unwatchTemp(_tempSlot);
    _tempSlot = -1;
}
