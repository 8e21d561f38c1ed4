#pragma once
// An output file of veraxo-analyze (a CSV, a report picture) written the way the user means the path:
// - a symbolic link is followed, and what it points to is written;
// - a FIFO, a character device (/dev/null, a terminal) or an open descriptor named as /dev/fd/N,
//   /dev/stdout, /proc/self/fd/N is written straight into, as the shell's redirection would;
// - a regular file or a new path gets a temporary file beside it that is renamed over the path only
//   once complete, so a failed or interrupted run never leaves a partial file passed off as complete.
//   An existing file keeps its mode (and owner, where allowed).
// A file the user may not write is refused before anything is written, by its mode bits for the
// superuser too (a read-only file stays read-only). Directories, block devices and sockets are refused,
// so are a folder that is append-only (a temporary there could never go) and a link that another user
// planted in a sticky, world-writable folder such as /tmp.
// Reasons are short phrases for "cannot write (...)".

#include <cstdio>
#include <string>

class OutputFile {
public:
    OutputFile();
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // False with the reason in error().
    bool open(const std::string& path);
    // The buffered stream to write to; null unless open.
    std::FILE* stream() const { return _stream; }
    // Starts writing what reached a temporary file to the disk, without waiting, so the wait before the
    // rename in commit() is short. Does nothing for files written in place or where the system has no
    // such call.
    void startWriteBack();
    // Flushes and closes; a temporary file is renamed over the path. False with the reason in error(),
    // and then no temporary is left behind.
    bool commit();
    // Abandons the output: a temporary file is removed; what went into a FIFO or device stays sent.
    void discard();
    // True when the path is written in place (FIFO, device, open descriptor), not replaced.
    bool inPlace() const { return _inPlace; }
    // True when path, followed as open() follows it, names the file the descriptor is open on; tells
    // before anything is opened whether an output will land where fd writes.
    static bool names(const std::string& path, int fd);
    // True when the output path, followed as open() follows it, is the existing file the input path
    // names (a character device such as /dev/null is no file to lose).
    static bool sameFile(const std::string& output, const std::string& input);
    // True when the path names an open descriptor (/dev/stdout, /dev/fd/N), written as it stands.
    static bool namesDescriptor(const std::string& path);

    // A temporary file's name as the interrupt handler knows it.
    struct TempName;

    const std::string& error() const { return _error; }

private:
    bool fail(int error);
    bool fail(const std::string& reason);
    bool attach(int fd);
    void forgetTemp();

    std::FILE* _stream;
    std::string _target;
    std::string _tempPath;
    std::string _error;
    bool _inPlace;
    TempName* _temp;
};
