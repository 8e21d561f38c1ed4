// Writing in place is what the path asks for when it is not a plain file: replacing a FIFO leaves its
// reader waiting, replacing a device node destroys it, and reopening /dev/fd/N would lose the shell's
// offset and append mode, so the descriptor itself is duplicated. Only a regular file is replaced, and
// only by rename(), which is atomic within its folder.
//
// Temporary names are kept where a signal handler can remove them when an interrupt ends the run;
// any number of outputs may be open at once, from any number of threads.

#include "OutputFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <mutex>
#include <random>

#include <fcntl.h>
#include <linux/fs.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int MAX_LINKS = 40;

// Every temporary name in use, for the interrupt handler: a list that only grows (an entry is reused
// once free), so the handler can walk it without a lock however many outputs are open at once.
// An entry's name is written before it is marked CREATING; the handler waits out a CREATING entry (its
// open() is under way on a thread where the signals are blocked) and removes an ACTIVE one.
enum TempState { FREE, CLAIMED, CREATING, ACTIVE };

} // namespace

struct OutputFile::TempName {
    std::atomic<int> state{CLAIMED};
    char name[PATH_MAX];
    TempName* next = nullptr;
};

namespace {

std::atomic<OutputFile::TempName*> tempNames{nullptr};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the names' states");
static_assert(std::atomic<OutputFile::TempName*>::is_always_lock_free, "the signal handler walks the list");
const int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void removeTempsAndStop(int sig) {
    for (OutputFile::TempName* t = tempNames.load(); t; t = t->next) {
        int state;
        while ((state = t->state.load()) == CREATING) {
        }
        if (state == ACTIVE)
            ::unlink(t->name);
    }
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// Installed with the first temporary file; a signal the caller ignores (nohup) stays ignored.
void installHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int sig : STOP_SIGNALS) {
            struct sigaction current;
            if (::sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
                continue;
            struct sigaction action = {};
            action.sa_handler = &removeTempsAndStop;
            sigemptyset(&action.sa_mask);
            ::sigaction(sig, &action, nullptr);
        }
    });
}

OutputFile::TempName* claimTempName() {
    for (OutputFile::TempName* t = tempNames.load(); t; t = t->next) {
        int free = FREE;
        if (t->state.compare_exchange_strong(free, CLAIMED))
            return t;
    }
    OutputFile::TempName* t = new OutputFile::TempName;
    t->next = tempNames.load();
    while (!tempNames.compare_exchange_weak(t->next, t)) {
    }
    return t;
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

// A fresh file beside target, created with the given mode (the umask applies) and known to the
// interrupt handler from before it exists. The stop signals are held back meanwhile on this thread, so
// the handler never waits for an open() on its own thread.
int createTemp(const std::string& target, mode_t mode, OutputFile::TempName*& temp) {
    static std::atomic<unsigned> counter(0);
    std::random_device seed;
    std::mt19937 rng(seed() ^ (static_cast<unsigned>(::getpid()) << 16) ^ counter.fetch_add(1));
    installHandlers();
    sigset_t stops, previous;
    sigemptyset(&stops);
    for (int sig : STOP_SIGNALS)
        sigaddset(&stops, sig);
    ::pthread_sigmask(SIG_BLOCK, &stops, &previous);
    temp = claimTempName();
    int fd = -1;
    errno = EEXIST;
    for (int attempt = 0; attempt < 100 && errno == EEXIST; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%06x", static_cast<unsigned>(rng() & 0xffffff));
        const std::string name = target + suffix;
        if (name.size() >= sizeof temp->name) {
            errno = ENAMETOOLONG;
            break;
        }
        std::memcpy(temp->name, name.c_str(), name.size() + 1);
        temp->state.store(CREATING);
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        temp->state.store(fd >= 0 ? ACTIVE : CLAIMED);
        if (fd >= 0)
            break;
    }
    const int error = errno;
    if (fd < 0) {
        temp->state.store(FREE);
        temp = nullptr;
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return fd;
}

// The folder a path's last component is in.
std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The kernel's protected_symlinks rule, kept whatever the system's setting: in a sticky folder anyone
// may write to (/tmp), a link is followed only when the caller or the folder's owner owns it, so
// another user cannot point the output at a file of the caller's.
bool mayFollow(const std::string& link, const struct stat& st) {
    struct stat folder;
    if (::stat(folderOf(link).c_str(), &folder) != 0)
        return true;
    const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
    return !shared || st.st_uid == ::geteuid() || st.st_uid == folder.st_uid;
}

// Whether the folder is append-only: a file made there could be neither renamed nor removed, so
// neither a temporary nor a replacement can be had.
bool appendOnlyFolder(const std::string& path) {
    const int fd = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    const bool appendOnly = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_APPEND_FL);
    ::close(fd);
    return appendOnly;
}

} // namespace

OutputFile::OutputFile() : _stream(0), _inPlace(false), _temp(nullptr) {}

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

bool OutputFile::sameFile(const std::string& output, const std::string& input) {
    struct stat out, in;
    return ::stat(output.c_str(), &out) == 0 && ::stat(input.c_str(), &in) == 0 && !S_ISCHR(in.st_mode) &&
           out.st_dev == in.st_dev && out.st_ino == in.st_ino;
}

bool OutputFile::namesDescriptor(const std::string& path) {
    return namedDescriptor(path) >= 0;
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
        if (!mayFollow(target, link))
            return fail("a link in a shared sticky folder, owned by another user, is not followed");
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

    if (appendOnlyFolder(target))
        return fail("the folder is append-only");
    const int fd = createTemp(target, exists ? S_IRUSR | S_IWUSR : 0666, _temp);
    if (fd < 0)
        return fail(errno);
    _tempPath = _temp->name;
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
        forgetTemp();
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
    forgetTemp();
}

void OutputFile::forgetTemp() {
    if (_temp)
        _temp->state.store(FREE);
    _temp = nullptr;
    _tempPath.clear();
}
