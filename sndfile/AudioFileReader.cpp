// The file is decoded in chunks of CHUNK_FRAMES frames. A 16-bit mono 8000 Hz source is read straight
// as shorts; anything else goes through floats (libsndfile's normalisation by 32768), a mono mix, the
// sample-rate converter when the rate differs, and back to 16 bits with rounding to nearest and
// clipping. A cut-short input is read up to its break: the shortfall is noted once, when it is known,
// and the samples before it are handed out as usual.

#include "AudioFileReader.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <dlfcn.h>
#include <fcntl.h>
#include <mpg123.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const int CHUNK_FRAMES = 4096;
const int RESAMPLED_CHUNK = 4096;
// Samples per read of a source taken as it is: large enough that system calls cost little.
const int DIRECT_CHUNK = 32768;

sf_count_t memoryLength(void* user) {
    return static_cast<AudioFileReader::MemoryInput*>(user)->size;
}

sf_count_t memorySeek(sf_count_t offset, int whence, void* user) {
    AudioFileReader::MemoryInput* m = static_cast<AudioFileReader::MemoryInput*>(user);
    long long base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? m->size : 0;
    long long pos = base + offset;
    if (pos < 0 || pos > m->size)
        return -1;
    m->pos = pos;
    return pos;
}

sf_count_t memoryRead(void* ptr, sf_count_t count, void* user) {
    AudioFileReader::MemoryInput* m = static_cast<AudioFileReader::MemoryInput*>(user);
    long long left = m->size - m->pos;
    if (count > left)
        count = left;
    if (count <= 0)
        return 0;
    std::memcpy(ptr, m->data + m->pos, static_cast<std::size_t>(count));
    m->pos += count;
    return count;
}

sf_count_t memoryWrite(const void*, sf_count_t, void*) {
    return 0;
}

sf_count_t memoryTell(void* user) {
    return static_cast<AudioFileReader::MemoryInput*>(user)->pos;
}

// A file read through virtual I/O with a few bytes of its header replaced.
sf_count_t patchedLength(void* user) {
    return static_cast<AudioFileReader::PatchedFile*>(user)->size;
}

sf_count_t patchedSeek(sf_count_t offset, int whence, void* user) {
    AudioFileReader::PatchedFile* f = static_cast<AudioFileReader::PatchedFile*>(user);
    const long long base = whence == SEEK_CUR ? f->pos : whence == SEEK_END ? f->size : 0;
    if (base + offset < 0)
        return -1;
    f->pos = base + offset;
    return f->pos;
}

sf_count_t patchedRead(void* ptr, sf_count_t count, void* user) {
    AudioFileReader::PatchedFile* f = static_cast<AudioFileReader::PatchedFile*>(user);
    ssize_t n;
    do
        n = ::pread(f->fd, ptr, static_cast<std::size_t>(count), f->pos);
    while (n < 0 && errno == EINTR);
    if (n <= 0)
        return 0;
    unsigned char* out = static_cast<unsigned char*>(ptr);
    for (int i = 0; i < 8; ++i) {
        const long long at = f->patchAt + i - f->pos;
        if (at >= 0 && at < n)
            out[at] = f->patch[i];
    }
    f->pos += n;
    return n;
}

sf_count_t patchedTell(void* user) {
    return static_cast<AudioFileReader::PatchedFile*>(user)->pos;
}

// Where a CAF file's audio chunk gives its size, and that size, when the file holds less than it
// announces (libsndfile refuses such a file as malformed); -1 otherwise.
long long cafShortSizeField(int fd, long long fileSize, long long& declared) {
    unsigned char b[12];
    if (::pread(fd, b, 8, 0) != 8 || std::memcmp(b, "caff", 4) != 0)
        return -1;
    for (long long at = 8; at + 12 <= fileSize;) {
        if (::pread(fd, b, 12, at) != 12)
            return -1;
        long long size = 0;
        for (int i = 4; i < 12; ++i)
            size = (size << 8) | b[i];
        if (std::memcmp(b, "data", 4) == 0) {
            declared = size;
            return size >= 0 && size > fileSize - at - 12 ? at + 4 : -1;
        }
        if (size < 0 || size > fileSize)
            return -1;
        at += 12 + size;
    }
    return -1;
}

// Where a WAV header that declares 0 bytes of audio gives that size, or -1. A recorder that streams
// writes 0 and never comes back; libsndfile would read no audio at all, so the size is read as the
// streaming placeholder (as long as the input).
long long wavZeroSizeField(const std::string& head) {
    if (head.size() < 12 || head.compare(0, 4, "RIFF") != 0 || head.compare(8, 4, "WAVE") != 0)
        return -1;
    for (std::size_t at = 12; at + 8 <= head.size();) {
        const unsigned char* b = reinterpret_cast<const unsigned char*>(head.data()) + at;
        const unsigned long long size =
            b[4] | b[5] << 8 | b[6] << 16 | static_cast<unsigned long long>(b[7]) << 24;
        if (head.compare(at, 4, "data") == 0)
            return size == 0 ? static_cast<long long>(at + 4) : -1;
        at += 8 + size + (size & 1);
    }
    return -1;
}

// Whether the last Ogg page in bytes (the end of a stream) is whole and marks the end of its stream.
bool oggStreamEnded(const std::vector<unsigned char>& bytes) {
    static const unsigned char capture[] = {'O', 'g', 'g', 'S'};
    const auto at = std::find_end(bytes.begin(), bytes.end(), capture, capture + 4);
    const std::size_t start = static_cast<std::size_t>(at - bytes.begin());
    if (at == bytes.end() || bytes.size() - start < 27)
        return false;
    const std::size_t segments = bytes[start + 26];
    if (bytes.size() - start < 27 + segments)
        return false;
    std::size_t body = 0;
    for (std::size_t i = 0; i < segments; ++i)
        body += bytes[start + 27 + i];
    return (bytes[start + 5] & 0x04) != 0 && bytes.size() - start >= 27 + segments + body;
}

// libsndfile is given a descriptor of its own: it closes the one it is given when an open fails,
// whatever it is told, and ours stays open for the reader (and standard input for the program).
SNDFILE* openDescriptor(int fd, SF_INFO& info) {
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return 0;
    SNDFILE* file = sf_open_fd(own, SFM_READ, &info, SF_TRUE);
    return file;
}

// libsndfile keeps the error of a failed open in one global, so an open and the reading of its error
// are one step when readers open on several threads.
std::mutex openLock;

// A pipe's first bytes, which the header readers may go back to; beyond them it is read forwards only
// (or from the spool).
const long long PIPE_HEAD = 1 << 20;
const int PIPE_PREFETCH = 1 << 16;
// The largest Ogg page: its header and 255 segments of 255 bytes.
const long long OGG_PAGE_MAX = 27 + 255 + 255 * 255;

// What is awaited before the header is read: more than a WAV's or an AIFF's header takes.
const long long PIPE_HEADER = 4096;

// Bytes that arrive from the pipe: the head keeps the first of them, the spool (when there is one)
// the rest.
bool keepArrived(AudioFileReader::PipeInput* p, const unsigned char* bytes, long long n) {
    const long long tailLength = OGG_PAGE_MAX;
    if (n >= tailLength)
        p->tail.assign(bytes + n - tailLength, bytes + n);
    else {
        p->tail.insert(p->tail.end(), bytes, bytes + n);
        if (static_cast<long long>(p->tail.size()) > 2 * tailLength)
            p->tail.erase(p->tail.begin(), p->tail.end() - tailLength);
    }
    if (p->received < PIPE_HEAD) {
        const long long keep = std::min<long long>(n, PIPE_HEAD - p->received);
        p->head.insert(p->head.end(), bytes, bytes + keep);
        bytes += keep;
        n -= keep;
    }
    while (n > 0 && p->spool >= 0) {
        const ssize_t w = ::write(p->spool, bytes, static_cast<std::size_t>(n));
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        bytes += w;
        n -= w;
    }
    return true;
}

sf_count_t pipeSeek(sf_count_t offset, int whence, void* user);

sf_count_t pipeRead(void* ptr, sf_count_t count, void* user) {
    AudioFileReader::PipeInput* p = static_cast<AudioFileReader::PipeInput*>(user);
    unsigned char* out = static_cast<unsigned char*>(ptr);
    sf_count_t done = 0;
    if (p->pos > p->received) {
        // Past a skip that was put off: nothing has arrived there yet, which a header reader takes
        // for the end of the file; once the header is read, the skip is made.
        if (p->deferSkips)
            return 0;
        const long long target = p->pos;
        p->pos = p->received;
        if (pipeSeek(target, SEEK_SET, p) != target)
            return 0;
    }
    const long long headEnd = static_cast<long long>(p->head.size());
    // From the kept head first, then from the spool.
    while (done < count && p->pos < p->received && p->pos < headEnd) {
        const long long n = std::min<long long>(count - done, headEnd - p->pos);
        std::memcpy(out + done, p->head.data() + p->pos, static_cast<std::size_t>(n));
        done += n;
        p->pos += n;
    }
    while (done < count && p->pos < p->received && p->spool >= 0) {
        const long long n = std::min<long long>(count - done, p->received - p->pos);
        const ssize_t r = ::pread(p->spool, out + done, static_cast<std::size_t>(n), p->pos - headEnd);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return done;
        done += r;
        p->pos += r;
    }
    while (done < count) {
        if (p->pos != p->received)
            break;
        const ssize_t n = ::read(p->fd, out + done, static_cast<std::size_t>(count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || !keepArrived(p, out + done, n))
            break;
        done += n;
        p->pos += n;
        p->received += n;
    }
    return done;
}

sf_count_t pipeSeek(sf_count_t offset, int whence, void* user) {
    AudioFileReader::PipeInput* p = static_cast<AudioFileReader::PipeInput*>(user);
    if (whence == SEEK_END)
        return -1;
    const long long target = (whence == SEEK_CUR ? p->pos : 0) + offset;
    if (target < 0)
        return -1;
    if (target <= p->received) {
        // Back within the kept bytes, or to where the pipe stands.
        if (target < p->received && target >= static_cast<long long>(p->head.size()) && p->spool < 0)
            return -1;
        p->pos = target;
        return target;
    }
    if (p->deferSkips) {
        p->deferred = true;
        p->pos = target;
        return target;
    }
    p->pos = p->received;
    unsigned char skip[4096];
    while (p->pos < target) {
        const sf_count_t n = pipeRead(skip, std::min<long long>(sizeof skip, target - p->pos), p);
        if (n <= 0)
            return -1;
    }
    return p->pos;
}

// An unlinked temporary file, or -1.
int openSpool() {
    const char* dir = std::getenv("TMPDIR");
    std::string base = dir && *dir ? dir : "/tmp";
    int fd = ::open(base.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
    std::string name = base + "/veraxo-stdin-XXXXXX";
    fd = ::mkostemp(&name[0], O_CLOEXEC);
    if (fd >= 0)
        ::unlink(name.c_str());
    return fd;
}

sf_count_t pipeLength(void*) {
    return SF_COUNT_MAX;
}

sf_count_t pipeTell(void* user) {
    return static_cast<AudioFileReader::PipeInput*>(user)->pos;
}

// What libsndfile must be told of a headerless stream; a file with a header describes itself.
SF_INFO streamInfo(bool headerless) {
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    if (headerless) {
        info.format = SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE;
        info.channels = 1;
        info.samplerate = AudioFileReader::OUTPUT_RATE;
    }
    return info;
}

bool endsWithRaw(const std::string& path) {
    if (path.size() < 4)
        return false;
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".raw";
}

// A frame count this large is libsndfile's "unknown length" (a stream it cannot measure).
const long long UNKNOWN_FRAMES = 1LL << 60;

// Sizes that recorders and converters write when they stream and never come back to fix the header
// (0xFFFFFFFF, 0x7FFFF000 for a WAV, 0x7F000008 for an AIFF's sound chunk): they declare no length.
bool isPlaceholderSize(long long size) {
    return size == 0xFFFFFFFFLL || size == 0x7FFFF000LL || size == 0x7F000008LL || size == -1;
}

// What the header declares against what the input holds. libsndfile opens most cut-short files
// without complaint, clamps the length to what is there and notes the difference in its log, in the
// words of each format's reader; NIST's sample count is read from its text header, and an Ogg file
// whose last page it cannot find has no end.
struct Declared {
    bool streaming = false; // the header gives a placeholder, not a length
    std::string shortfall;  // empty when nothing is missing
    long long missingFrames = 0;
    // What a stream that libsndfile cannot measure declares (NIST's count, W64's audio chunk), or 0.
    long long frames = 0;
};

// Bytes a frame takes in a PCM or float encoding; 0 for a compressed one.
int bytesPerFrame(int format, int channels) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return channels;
    case SF_FORMAT_PCM_16:
        return 2 * channels;
    case SF_FORMAT_PCM_24:
        return 3 * channels;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
        return 4 * channels;
    case SF_FORMAT_DOUBLE:
        return 8 * channels;
    default:
        return 0;
    }
}

Declared readDeclared(SNDFILE* file, const std::string& head, int format, int channels, bool seekable,
                      long long frames) {
    Declared d;
    char log[16384];
    log[0] = 0;
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    const auto bytesShort = [&](long long declared, long long actual, const char* what) {
        if (d.shortfall.empty() && actual < declared) {
            d.shortfall = "the header announces " + std::to_string(declared) + " bytes" + what +
                          ", the file holds " + std::to_string(actual);
            const long long bytesPerFrame = frames > 0 ? actual / frames : 0;
            d.missingFrames = bytesPerFrame > 0 ? (declared - actual) / bytesPerFrame : 0;
        }
    };
    for (const char* line = log; *line;) {
        long long a = 0, b = 0;
        int n = 0;
        if ((n = std::sscanf(line, "data : %lld (should be %lld)", &a, &b)) >= 1 ||
            (n = std::sscanf(line, " SSND : %lld (should be %lld)", &a, &b)) >= 1 ||
            (n = std::sscanf(line, " Data Size : %lld (should be %lld)", &a, &b)) >= 1) {
            if (isPlaceholderSize(a))
                d.streaming = true;
            else if (n == 2)
                bytesShort(a, b, " of audio");
            // W64's audio chunk counts its own 24-byte header.
            if ((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_W64 && a > 24 &&
                bytesPerFrame(format, channels) > 0)
                d.frames = (a - 24) / bytesPerFrame(format, channels);
        } else if (std::sscanf(line, "riff : %lld (should be %lld)", &a, &b) == 2) {
            bytesShort(a, b, "");
        } else if (std::sscanf(line,
                               "*** Calculated frame count %lld does not match value from 'ds64' "
                               "chunk of %lld",
                               &a, &b) == 2) {
            if (d.shortfall.empty() && a < b) {
                d.shortfall = "the header declares " + std::to_string(b) + " frames, the file holds " +
                              std::to_string(a);
                d.missingFrames = b - a;
            }
        } else if (std::strncmp(line, "Seems to be a truncated file", 28) == 0 && d.shortfall.empty()) {
            d.shortfall = "its last block of audio breaks off";
        }
        const char* next = std::strchr(line, '\n');
        if (!next)
            break;
        line = next + 1;
    }
    const int major = format & SF_FORMAT_TYPEMASK;
    if (major == SF_FORMAT_NIST && d.shortfall.empty()) {
        const std::size_t at = head.find("sample_count -i ");
        const long long declared = at == std::string::npos ? 0 : std::atoll(head.c_str() + at + 16);
        d.frames = declared;
        if (declared > frames) {
            d.shortfall = "the header declares " + std::to_string(declared) + " frames, the file holds " +
                          std::to_string(frames);
            d.missingFrames = declared - frames;
        }
    }
    if (major == SF_FORMAT_OGG && seekable && frames >= UNKNOWN_FRAMES && d.shortfall.empty())
        d.shortfall = "the stream ends without its last page";
    return d;
}

short toShort(float x) {
    const float v = x * 32768.0f;
    if (!(v == v))
        return 0;
    if (v >= 32767.0f)
        return 32767;
    if (v <= -32768.0f)
        return -32768;
    return static_cast<short>(std::lrintf(v));
}

} // namespace

AudioFileReader::AudioFileReader()
    : _file(0), _fd(-1), _memory{0, 0, 0}, _pipe{-1, {}, 0, 0, false, false, -1, {}}, _sourceRate(0),
      _sourceChannels(0), _sourceFrames(0), _declaredFrames(0), _decodedFrames(0), _missingFrames(0),
      _passThrough(false), _sourceDone(false), _failed(false), _pendingPos(0) {}

AudioFileReader::~AudioFileReader() {
    close();
}

void AudioFileReader::close() {
    _resampler.release();
    if (_file)
        sf_close(_file);
    _file = 0;
    if (_fd >= 0)
        ::close(_fd);
    _fd = -1;
    _headFd = -1;
    _memory = MemoryInput{0, 0, 0};
    if (_pipe.spool >= 0)
        ::close(_pipe.spool);
    _pipe = PipeInput{-1, {}, 0, 0, false, false, -1, {}};
    _sourceRate = 0;
    _sourceChannels = 0;
    _ogg = false;
    _sourceFrames = 0;
    _declaredFrames = 0;
    _decodedFrames = 0;
    _missingFrames = 0;
    _truncation.clear();
    _passThrough = false;
    _sourceDone = false;
    _failed = false;
    _pending.clear();
    _pendingPos = 0;
    _directPos = _directEnd = 0;
}

bool AudioFileReader::fail(const std::string& reason) {
    close();
    _error = reason;
    return false;
}

bool AudioFileReader::open(const std::string& path, bool raw) {
    close();
    _error.clear();
    if (path.empty())
        return fail("no file name given");
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return fail(errno == ENOENT ? "no such file" : std::string("cannot read: ") + std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        return fail("is a directory, not an audio file");
    if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode))
        return fail("not a regular file");
    if (S_ISREG(st.st_mode) && st.st_size == 0)
        return fail("empty file");
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return fail(std::string("cannot read: ") + std::strerror(errno));

    const bool headerless = raw || endsWithRaw(path);
    _fd = fd;
    // A named pipe (or /dev/stdin) is read as standard input is.
    struct stat opened;
    if (::fstat(fd, &opened) == 0 && S_ISFIFO(opened.st_mode))
        return openPipe(fd, headerless);
    return openFile(fd, st, headerless);
}

// A descriptor of a file by name or of standard input; a WAV that declares no audio and a CAF file cut
// short are read with their size fields mended.
bool AudioFileReader::openFile(int fd, const struct stat& st, bool headerless) {
    SF_INFO info = streamInfo(headerless);
    _headFd = fd;
    const long long zeroSize =
        headerless || !S_ISREG(st.st_mode) ? -1 : wavZeroSizeField(bytesAt(0, 1 << 16));
    std::lock_guard<std::mutex> guard(openLock);
    if (zeroSize >= 0) {
        _patched = PatchedFile{fd, static_cast<long long>(st.st_size), 0, zeroSize, {}};
        // The four bytes after the size are the file's own (or nothing past its end).
        if (::pread(fd, _patched.patch, 8, zeroSize) < 4)
            return fail(std::string("cannot read: ") + std::strerror(errno));
        std::memset(_patched.patch, 0xff, 4);
        SF_VIRTUAL_IO io = {&patchedLength, &patchedSeek, &patchedRead, &memoryWrite, &patchedTell};
        _file = sf_open_virtual(&io, SFM_READ, &info, &_patched);
        return finishOpen(info, false);
    }
    _file = openDescriptor(fd, info);
    long long declared = 0;
    const long long sizeField =
        _file || headerless || !S_ISREG(st.st_mode) ? -1 : cafShortSizeField(fd, st.st_size, declared);
    if (sizeField < 0)
        return finishOpen(info, headerless);
    // A CAF file cut short: its audio chunk is read as one that ends with the file, and the shortfall
    // noted.
    const long long held = st.st_size - sizeField - 8;
    _patched = PatchedFile{fd, static_cast<long long>(st.st_size), 0, sizeField, {}};
    for (int i = 0; i < 8; ++i)
        _patched.patch[i] = static_cast<unsigned char>(held >> (56 - 8 * i));
    SF_VIRTUAL_IO io = {&patchedLength, &patchedSeek, &patchedRead, &memoryWrite, &patchedTell};
    info = streamInfo(false);
    _file = sf_open_virtual(&io, SFM_READ, &info, &_patched);
    if (!finishOpen(info, false))
        return false;
    _truncation = "the header announces " + std::to_string(declared) + " bytes of audio, the file holds " +
                  std::to_string(held);
    const long long bytesPerFrame = _sourceFrames > 0 ? held / _sourceFrames : 0;
    _missingFrames = bytesPerFrame > 0 ? (declared - held) / bytesPerFrame : 0;
    return true;
}

bool AudioFileReader::openStdin(bool raw) {
    close();
    _error.clear();
    struct stat st;
    if (::fstat(STDIN_FILENO, &st) != 0)
        return fail(std::string("cannot read: ") + std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        return fail("is a directory, not an audio file");
    if (S_ISREG(st.st_mode) && st.st_size == 0)
        return fail("empty file");
    // The descriptor stays open (_fd is not set).
    if (S_ISREG(st.st_mode))
        return openFile(STDIN_FILENO, st, raw);
    return openPipe(STDIN_FILENO, raw);
}

bool AudioFileReader::openPipe(int fd, bool raw) {
    SF_INFO info = streamInfo(raw);
    _pipe = PipeInput{fd, {}, 0, 0, true, false, -1, {}};
    // The header is awaited before taking the lock, so a slow writer holds up no other open: the first
    // bytes, as many as have come, and no more than a header needs (a writer may stall after them).
    std::vector<unsigned char> first(PIPE_PREFETCH);
    while (_pipe.received < PIPE_HEADER) {
        const ssize_t n = ::read(fd, first.data(), first.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || !keepArrived(&_pipe, first.data(), n))
            break;
        _pipe.received += n;
    }
    if (_pipe.received == 0)
        return fail(raw ? "empty: no audio frames" : "empty file");
    _pipe.pos = 0;
    const long long zeroSize = raw ? -1 : wavZeroSizeField(std::string(_pipe.head.begin(), _pipe.head.end()));
    if (zeroSize >= 0)
        std::memset(&_pipe.head[static_cast<std::size_t>(zeroSize)], 0xff, 4);
    SF_VIRTUAL_IO io = {&pipeLength, &pipeSeek, &pipeRead, &memoryWrite, &pipeTell};
    std::lock_guard<std::mutex> guard(openLock);
    _file = sf_open_virtual(&io, SFM_READ, &info, &_pipe);
    if (!_file && _pipe.deferred && _pipe.received <= PIPE_HEAD) {
        // What lies past a skip is needed (a large chunk before the audio, or the format after it):
        // the stream is read again from its start, as a file.
        _pipe.spool = openSpool();
        if (_pipe.spool >= 0) {
            _pipe.pos = 0;
            _pipe.deferSkips = false;
            info = streamInfo(raw);
            _file = sf_open_virtual(&io, SFM_READ, &info, &_pipe);
        }
    }
    _pipe.deferSkips = false;
    return finishOpen(info, raw);
}

bool AudioFileReader::openMemory(const void* data, std::size_t size, bool raw) {
    close();
    _error.clear();
    if (size == 0)
        return fail("empty file");
    _memory = MemoryInput{static_cast<const unsigned char*>(data), static_cast<long long>(size), 0};
    SF_VIRTUAL_IO io = {&memoryLength, &memorySeek, &memoryRead, &memoryWrite, &memoryTell};
    SF_INFO info = streamInfo(raw);
    std::lock_guard<std::mutex> guard(openLock);
    _file = sf_open_virtual(&io, SFM_READ, &info, &_memory);
    return finishOpen(info, raw);
}

// Bytes of the input from offset, for the few header fields libsndfile does not report (fewer at the
// end of the input, or past a pipe's kept head).
std::string AudioFileReader::bytesAt(long long offset, std::size_t n) const {
    if (_pipe.fd >= 0 || _memory.data) {
        const unsigned char* data = _pipe.fd >= 0 ? _pipe.head.data() : _memory.data;
        const long long size = _pipe.fd >= 0 ? static_cast<long long>(_pipe.head.size()) : _memory.size;
        if (offset >= size)
            return std::string();
        return std::string(reinterpret_cast<const char*>(data) + offset,
                           static_cast<std::size_t>(std::min<long long>(size - offset, n)));
    }
    std::string bytes(n, '\0');
    const ssize_t got = _headFd >= 0 ? ::pread(_headFd, &bytes[0], n, offset) : -1;
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return bytes;
}

// An MPEG stream gives its exact length only in a Xing or Info frame at its start (after any ID3v2
// tag); without one the length is an estimate from the size and the bit rate.
bool AudioFileReader::mpegLengthIsExact() const {
    long long start = 0;
    const std::string id3 = bytesAt(0, 10);
    if (id3.size() == 10 && id3.compare(0, 3, "ID3") == 0) {
        const unsigned char* b = reinterpret_cast<const unsigned char*>(id3.data());
        start = 10 + ((b[6] & 0x7f) << 21 | (b[7] & 0x7f) << 14 | (b[8] & 0x7f) << 7 | (b[9] & 0x7f)) +
                ((b[5] & 0x10) ? 10 : 0);
    }
    const std::string frame = bytesAt(start, 256);
    return frame.find("Xing") != std::string::npos || frame.find("Info") != std::string::npos;
}

bool AudioFileReader::finishOpen(const SF_INFO& info, bool headerless) {
    if (!_file) {
        // libsndfile's reason when a decoder finds no frame it can read names a missing file or a pipe.
        const std::string reason = sf_strerror(0);
        return fail(
            "not an audio file (" +
            (reason.find("possibly a pipe") != std::string::npos ? "no audio in it can be decoded" : reason) +
            ")");
    }
    const int format = info.format;
    _ogg = (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG;
    _sourceRate = info.samplerate;
    _sourceChannels = info.channels;
    _sourceFrames = info.frames;
    if (_sourceChannels <= 0 || _sourceRate <= 0)
        return fail("not an audio file (no channels or no sample rate)");
    const double ratio = static_cast<double>(OUTPUT_RATE) / _sourceRate;
    if (_sourceRate != OUTPUT_RATE && !Resampler::supports(_sourceRate, OUTPUT_RATE))
        return fail("unsupported sample rate " + std::to_string(_sourceRate) + " Hz");
    if (_sourceFrames <= 0)
        return fail("empty: no audio frames");
    if (!headerless) {
        const Declared d =
            readDeclared(_file, bytesAt(0, 1024), format, _sourceChannels, _pipe.fd < 0, _sourceFrames);
        const bool estimated = (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG && !mpegLengthIsExact();
        // A stream libsndfile cannot measure is checked at its end against what its header declares.
        const bool unmeasured = _sourceFrames >= UNKNOWN_FRAMES && d.frames > 0;
        _declaredFrames = d.streaming || estimated ? UNKNOWN_FRAMES : unmeasured ? d.frames : _sourceFrames;
        _truncation = d.shortfall;
        _missingFrames = d.missingFrames;
    } else {
        _declaredFrames = _sourceFrames;
    }

    _passThrough = _sourceChannels == 1 && _sourceRate == OUTPUT_RATE &&
                   (format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
    if (_passThrough)
        _direct.resize(DIRECT_CHUNK);
    if (!_passThrough) {
        _frames.resize(static_cast<std::size_t>(CHUNK_FRAMES) * _sourceChannels);
        _mono.resize(CHUNK_FRAMES);
        _pending.reserve(static_cast<std::size_t>(CHUNK_FRAMES * (ratio > 1.0 ? ratio : 1.0)) +
                         RESAMPLED_CHUNK);
    }
    if (!_passThrough && _sourceRate != OUTPUT_RATE && !_resampler.prepare(_sourceRate, OUTPUT_RATE))
        return fail("cannot convert the sample rate (" + _resampler.errorText() + ")");
    return true;
}

long long AudioFileReader::expectedSamples() const {
    if (_sourceRate == OUTPUT_RATE || _sourceRate <= 0)
        return _sourceFrames;
    return std::llround(static_cast<double>(_sourceFrames) * OUTPUT_RATE / _sourceRate);
}

bool AudioFileReader::lengthDeclared() const {
    return _declaredFrames < UNKNOWN_FRAMES;
}

int AudioFileReader::read(short* out, int maxSamples) {
    if (!_file) {
        if (_error.empty())
            _error = "no file open";
        return -1;
    }
    if (maxSamples <= 0)
        return 0;
    int got = 0;
    if (_passThrough) {
        // Big reads from the source, handed out in the caller's block sizes.
        while (got < maxSamples) {
            if (_directPos == _directEnd) {
                const sf_count_t n = _sourceDone ? 0 : sf_read_short(_file, _direct.data(), DIRECT_CHUNK);
                if (n <= 0) {
                    if (!_sourceDone) {
                        _sourceDone = true;
                        sourceEnded();
                    }
                    break;
                }
                _decodedFrames += n;
                if (_tap)
                    _tap->sourceSamples(_direct.data(), static_cast<int>(n));
                _directPos = 0;
                _directEnd = static_cast<std::size_t>(n);
                // The next read clears the decoder's error: a short read that broke is noted now.
                if (n < DIRECT_CHUNK && sf_error(_file) != SF_ERR_NO_ERROR) {
                    _sourceDone = true;
                    sourceEnded();
                }
            }
            const std::size_t take =
                std::min(_directEnd - _directPos, static_cast<std::size_t>(maxSamples - got));
            std::memcpy(out + got, _direct.data() + _directPos, take * sizeof(short));
            _directPos += take;
            got += static_cast<int>(take);
        }
    } else {
        got = readConverted(out, maxSamples);
    }
    if (_failed)
        return -1;
    return got;
}

// The source gave no more frames: the end, a break noted as truncation, or, when not one frame could
// be decoded, a read error.
bool AudioFileReader::sourceEnded() {
    const bool known = _declaredFrames < UNKNOWN_FRAMES;
    const bool complete = known && _decodedFrames >= _declaredFrames;
    if (sf_error(_file) != SF_ERR_NO_ERROR && !complete) {
        if (_decodedFrames == 0) {
            _error = std::string("read error (") + sf_strerror(_file) + ")";
            _failed = true;
            return false;
        }
        if (_truncation.empty()) {
            _truncation = "decoding stopped after " + std::to_string(_decodedFrames) +
                          (known ? " of " + std::to_string(_declaredFrames) : std::string()) + " frames (" +
                          sf_strerror(_file) + ")";
            _missingFrames = known ? _declaredFrames - _decodedFrames : 0;
        }
        return true;
    }
    if (_ogg && _pipe.fd >= 0 && _truncation.empty() && !oggStreamEnded(_pipe.tail)) {
        _truncation = "the stream ends without its last page";
        return true;
    }
    if (!complete && known && _truncation.empty()) {
        _truncation = "only " + std::to_string(_decodedFrames) + " of the " +
                      std::to_string(_declaredFrames) + " frames the header declares were decoded";
        _missingFrames = _declaredFrames - _decodedFrames;
    }
    return true;
}

int AudioFileReader::readConverted(short* out, int maxSamples) {
    int written = 0;
    while (written < maxSamples) {
        if (_pendingPos == _pending.size() && !fillPending())
            break;
        while (written < maxSamples && _pendingPos < _pending.size())
            out[written++] = toShort(_pending[_pendingPos++]);
    }
    return written;
}

// Refills the queue of converted samples from the next chunk of the file; false once the input and
// the converter's tail are exhausted, or on a converter error.
bool AudioFileReader::fillPending() {
    _pending.clear();
    _pendingPos = 0;
    while (_pending.empty()) {
        if (_sourceDone)
            return false;
        const sf_count_t frames = sf_readf_float(_file, _frames.data(), CHUNK_FRAMES);
        const int got = frames > 0 ? static_cast<int>(frames) : 0;
        _decodedFrames += got;
        if (_tap && got > 0)
            _tap->sourceFrames(_frames.data(), got);
        if (got == 0) {
            _sourceDone = true;
            if (!sourceEnded())
                return false;
        }
        const int channels = _sourceChannels;
        for (int i = 0; i < got; ++i) {
            const float* frame = &_frames[static_cast<std::size_t>(i) * channels];
            float sum = 0.0f;
            for (int c = 0; c < channels; ++c)
                sum += frame[c];
            _mono[i] = channels == 1 ? sum : sum / static_cast<float>(channels);
        }
        if (!_resampler.isPrepared()) {
            _pending.insert(_pending.end(), _mono.begin(), _mono.begin() + got);
            continue;
        }
        // All of the chunk goes in; once the source is done, the converter's tail comes out too.
        float converted[RESAMPLED_CHUNK];
        const float* in = _mono.data();
        std::size_t left = static_cast<std::size_t>(got);
        for (;;) {
            const bool flushing = _sourceDone && left == 0;
            std::size_t used = 0;
            std::size_t produced = 0;
            if (!_resampler.process(flushing ? nullptr : in, left, used, converted, RESAMPLED_CHUNK,
                                    produced)) {
                _error = "cannot convert the sample rate (" + _resampler.errorText() + ")";
                _sourceDone = true;
                _failed = true;
                return false;
            }
            _pending.insert(_pending.end(), converted, converted + produced);
            in += used;
            left -= used;
            if (flushing ? produced == 0 : left == 0 && produced < RESAMPLED_CHUNK)
                break;
        }
    }
    return true;
}

// libsndfile's MPEG decoder leaves libmpg123 free to print its own warnings on standard error ("Cannot
// read next header, a one-frame stream?"): every handle is made quiet as it is made, and the reader
// reports what went wrong in its own words. A program linked with this file takes libsndfile's calls
// of mpg123_new; the real one is the next in the search order.
extern "C" mpg123_handle* mpg123_new(const char* decoder, int* error) {
    typedef mpg123_handle* (*New)(const char*, int*);
    static const New next = reinterpret_cast<New>(::dlsym(RTLD_NEXT, "mpg123_new"));
    if (!next) {
        if (error)
            *error = MPG123_ERR;
        return 0;
    }
    mpg123_handle* handle = next(decoder, error);
    if (handle)
        mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    return handle;
}
