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
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <samplerate.h>
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

// libsndfile keeps the error of a failed open in one global, so an open and the reading of its error
// are one step when readers open on several threads.
std::mutex openLock;

// A pipe's first bytes, which the header readers may go back to; beyond them it is read forwards only.
const long long PIPE_HEAD = 1 << 20;
const int PIPE_PREFETCH = 1 << 16;

sf_count_t pipeRead(void* ptr, sf_count_t count, void* user) {
    AudioFileReader::PipeInput* p = static_cast<AudioFileReader::PipeInput*>(user);
    unsigned char* out = static_cast<unsigned char*>(ptr);
    sf_count_t done = 0;
    // From the kept head first.
    while (done < count && p->pos < static_cast<long long>(p->head.size()) && p->pos < p->received) {
        const long long n =
            std::min<long long>(count - done, static_cast<long long>(p->head.size()) - p->pos);
        std::memcpy(out + done, p->head.data() + p->pos, static_cast<std::size_t>(n));
        done += n;
        p->pos += n;
    }
    while (done < count) {
        if (p->pos != p->received)
            break;
        const ssize_t n = ::read(p->fd, out + done, static_cast<std::size_t>(count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (p->received < PIPE_HEAD) {
            const long long keep = std::min<long long>(n, PIPE_HEAD - p->received);
            p->head.insert(p->head.end(), out + done, out + done + keep);
        }
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
        // Back within the kept head, or to where the pipe stands.
        if (target < p->received && target >= static_cast<long long>(p->head.size()))
            return -1;
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

// A data size of 0xFFFFFFFF is the placeholder of a recorder that streams and never comes back to
// write the size: it declares no length.
const long long STREAMING_SIZE = 0xFFFFFFFFLL;

// libsndfile opens a WAV cut short without complaint and notes "data : <declared> (should be
// <actual>)" in its log; a smaller actual size means audio is missing. streaming tells whether the
// header gave the streaming placeholder instead of a size.
bool logShowsTruncation(SNDFILE* file, long long& declared, long long& actual, bool& streaming) {
    char log[8192];
    log[0] = 0;
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    streaming = false;
    for (const char* line = log; line && *line;) {
        const int fields = std::sscanf(line, "data : %lld (should be %lld)", &declared, &actual);
        if (fields >= 1 && declared == STREAMING_SIZE)
            streaming = true;
        else if (fields == 2 && actual < declared)
            return true;
        line = std::strchr(line, '\n');
        if (line)
            ++line;
    }
    return false;
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
    : _file(0), _fd(-1), _resampler(0), _memory{0, 0, 0}, _pipe{-1, {}, 0, 0}, _sourceRate(0),
      _sourceChannels(0), _sourceFrames(0), _declaredFrames(0), _decodedFrames(0), _missingFrames(0),
      _passThrough(false), _sourceDone(false), _failed(false), _pendingPos(0) {}

AudioFileReader::~AudioFileReader() {
    close();
}

void AudioFileReader::close() {
    if (_resampler)
        src_delete(_resampler);
    _resampler = 0;
    if (_file)
        sf_close(_file);
    _file = 0;
    if (_fd >= 0)
        ::close(_fd);
    _fd = -1;
    _memory = MemoryInput{0, 0, 0};
    _pipe = PipeInput{-1, {}, 0, 0};
    _sourceRate = 0;
    _sourceChannels = 0;
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
    SF_INFO info = streamInfo(headerless);
    _fd = fd;
    std::lock_guard<std::mutex> guard(openLock);
    _file = sf_open_fd(fd, SFM_READ, &info, SF_FALSE);
    return finishOpen(info, headerless);
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
    SF_INFO info = streamInfo(raw);
    // The descriptor stays open (_fd is not set).
    if (S_ISREG(st.st_mode)) {
        std::lock_guard<std::mutex> guard(openLock);
        _file = sf_open_fd(STDIN_FILENO, SFM_READ, &info, SF_FALSE);
        return finishOpen(info, raw);
    }
    _pipe = PipeInput{STDIN_FILENO, {}, 0, 0};
    // The header is awaited before taking the lock, so a slow writer holds up no other open.
    std::vector<unsigned char> first(PIPE_PREFETCH);
    pipeRead(first.data(), PIPE_PREFETCH, &_pipe);
    _pipe.pos = 0;
    SF_VIRTUAL_IO io = {&pipeLength, &pipeSeek, &pipeRead, &memoryWrite, &pipeTell};
    std::lock_guard<std::mutex> guard(openLock);
    _file = sf_open_virtual(&io, SFM_READ, &info, &_pipe);
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

bool AudioFileReader::finishOpen(const SF_INFO& info, bool headerless) {
    if (!_file)
        return fail(std::string("not an audio file (") + sf_strerror(0) + ")");
    const int format = info.format;
    _sourceRate = info.samplerate;
    _sourceChannels = info.channels;
    _sourceFrames = info.frames;
    if (_sourceChannels <= 0 || _sourceRate <= 0)
        return fail("not an audio file (no channels or no sample rate)");
    const double ratio = static_cast<double>(OUTPUT_RATE) / _sourceRate;
    if (_sourceRate != OUTPUT_RATE && !src_is_valid_ratio(ratio))
        return fail("unsupported sample rate " + std::to_string(_sourceRate) + " Hz");
    if (_sourceFrames <= 0)
        return fail("empty: no audio frames");
    long long declared = 0;
    long long actual = 0;
    bool streaming = false;
    const bool cut = !headerless && logShowsTruncation(_file, declared, actual, streaming);
    _declaredFrames = streaming ? UNKNOWN_FRAMES : _sourceFrames;
    if (cut) {
        _truncation = "the header announces " + std::to_string(declared) +
                      " bytes of audio, the file holds " + std::to_string(actual);
        const long long bytesPerFrame = actual / _sourceFrames;
        _missingFrames = bytesPerFrame > 0 ? (declared - actual) / bytesPerFrame : 0;
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
    if (!_passThrough && _sourceRate != OUTPUT_RATE) {
        int error = 0;
        _resampler = src_new(SRC_SINC_MEDIUM_QUALITY, 1, &error);
        if (!_resampler)
            return fail(std::string("cannot convert the sample rate (") + src_strerror(error) + ")");
    }
    return true;
}

long long AudioFileReader::expectedSamples() const {
    if (_sourceRate == OUTPUT_RATE || _sourceRate <= 0)
        return _sourceFrames;
    return std::llround(static_cast<double>(_sourceFrames) * OUTPUT_RATE / _sourceRate);
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
        if (!_resampler) {
            _pending.insert(_pending.end(), _mono.begin(), _mono.begin() + got);
            continue;
        }
        float converted[RESAMPLED_CHUNK];
        SRC_DATA d;
        std::memset(&d, 0, sizeof d);
        d.data_in = _mono.data();
        d.input_frames = got;
        d.end_of_input = _sourceDone ? 1 : 0;
        d.src_ratio = static_cast<double>(OUTPUT_RATE) / _sourceRate;
        for (;;) {
            d.data_out = converted;
            d.output_frames = RESAMPLED_CHUNK;
            const int error = src_process(_resampler, &d);
            if (error) {
                _error = std::string("cannot convert the sample rate (") + src_strerror(error) + ")";
                _sourceDone = true;
                _failed = true;
                return false;
            }
            _pending.insert(_pending.end(), converted, converted + d.output_frames_gen);
            d.data_in += d.input_frames_used;
            d.input_frames -= d.input_frames_used;
            if (d.input_frames == 0 && d.output_frames_gen == 0)
                break;
        }
    }
    return true;
}
