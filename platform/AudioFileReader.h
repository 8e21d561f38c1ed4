#pragma once
// Streams an audio file as 16-bit mono samples at 8000 Hz, the form the analysis engine takes. Any
// format libsndfile reads is accepted, at any rate and channel count: channels are averaged, the rate
// is converted with libsamplerate, and the result is rounded and clipped to 16 bits. A 16-bit mono
// 8000 Hz file passes through sample for sample. Headerless input (a name ending in ".raw", or on
// request) is 16-bit little-endian mono at 8000 Hz. The input can also be a block of bytes in memory.
//
// Memory stays flat: the file is read in chunks of a fixed size, whatever its length. Failures leave a
// short reason in errorText() ("no such file", "is a directory", "empty file", ...).
//
// A recording cut short is read up to where it breaks, not refused: a header announcing more audio than
// the file holds, a decoder error after some audio, or fewer frames at the end than the header declares
// (a damaged stream, a file shrinking while read) end the input there and mark it truncated().

#include <cstddef>
#include <string>
#include <vector>

typedef struct sf_private_tag SNDFILE;
typedef struct SRC_STATE_tag SRC_STATE;
struct SF_INFO;

class AudioFileReader {
public:
    static constexpr int OUTPUT_RATE = 8000;

    AudioFileReader();
    ~AudioFileReader();

    AudioFileReader(const AudioFileReader&) = delete;
    AudioFileReader& operator=(const AudioFileReader&) = delete;

    // raw forces headerless 16-bit input; a path ending in ".raw" is read that way too.
    bool open(const std::string& path, bool raw = false);
    // Standard input, which may be a pipe: any format libsndfile reads from a stream, or headerless.
    // It is left open on close().
    bool openStdin(bool raw = false);
    // The bytes must stay valid until close() or destruction.
    bool openMemory(const void* data, std::size_t size, bool raw = false);
    void close();
    bool isOpen() const { return _file != 0; }

    // Up to maxSamples converted samples into out: the count, 0 at the end of the input, -1 on error.
    int read(short* out, int maxSamples);

    const std::string& errorText() const { return _error; }
    int sourceRate() const { return _sourceRate; }
    int sourceChannels() const { return _sourceChannels; }
    long long sourceFrames() const { return _sourceFrames; }
    // Samples the whole input should give at 8000 Hz (exact unless the rate is converted).
    long long expectedSamples() const;

    // True once the input is known to end before its header said it would; a header announcing more
    // than the file holds is known at open, a short or broken stream when reading reaches its end.
    bool truncated() const { return !_truncation.empty(); }
    // What is missing, in a few words ("only 4096 of the 16000 frames the header declares were decoded").
    const std::string& truncation() const { return _truncation; }
    // Source frames declared but not delivered (an estimate for a header's byte count; 0 when complete).
    long long missingFrames() const { return _missingFrames; }

    // Virtual I/O state for input held in memory; public only for libsndfile's callbacks.
    struct MemoryInput {
        const unsigned char* data;
        long long size;
        long long pos;
    };
    // Virtual I/O state for a pipe: its first bytes are kept so that reading a header can go back.
    struct PipeInput {
        int fd;
        std::vector<unsigned char> head;
        long long pos;
        long long received;
    };

private:
    bool finishOpen(const SF_INFO& info, bool headerless);
    bool fail(const std::string& reason);
    bool fillPending();
    int readConverted(short* out, int maxSamples);
    bool sourceEnded();

    SNDFILE* _file;
    int _fd;
    SRC_STATE* _resampler;
    MemoryInput _memory;
    PipeInput _pipe;
    std::string _error;
    int _sourceRate;
    int _sourceChannels;
    long long _sourceFrames;
    // What the end of the stream is checked against; unknown for a streamed header.
    long long _declaredFrames;
    long long _decodedFrames;
    long long _missingFrames;
    std::string _truncation;
    bool _passThrough;
    bool _sourceDone;
    bool _failed;
    // Interleaved frames read from the file, their mono mix, and converted samples not yet handed out.
    std::vector<float> _frames;
    std::vector<float> _mono;
    std::vector<float> _pending;
    std::size_t _pendingPos;
    // A 16-bit mono 8000 Hz source is read in large pieces and handed out from here.
    std::vector<short> _direct;
    std::size_t _directPos = 0;
    std::size_t _directEnd = 0;
};
