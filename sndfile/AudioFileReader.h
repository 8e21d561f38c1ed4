#pragma once
// Streams an audio file as 16-bit mono samples at 8000 Hz, the form the analysis engine takes. Any
// format libsndfile reads is accepted, at any rate and channel count: channels are averaged, the rate
// is converted (Resampler), and the result is rounded and clipped to 16 bits. A 16-bit mono
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

#include "Resampler.h"

typedef struct sf_private_tag SNDFILE;
struct SF_INFO;
struct stat;

class AudioFileReader {
public:
    static constexpr int OUTPUT_RATE = 8000;

    // Sees the source's frames as they are decoded, before any conversion: what a player plays.
    class SourceTap {
    public:
        virtual ~SourceTap() = default;
        // Interleaved frames at sourceRate() with sourceChannels() channels, full scale at +-1.
        virtual void sourceFrames(const float* interleaved, int frames) = 0;
        // A source read as it is (16-bit mono 8000 Hz) is shown in its own samples.
        virtual void sourceSamples(const short* samples, int count) = 0;
    };

    AudioFileReader();
    ~AudioFileReader();

    AudioFileReader(const AudioFileReader&) = delete;
    AudioFileReader& operator=(const AudioFileReader&) = delete;

    // raw forces headerless 16-bit input; a path ending in ".raw" is read that way too.
    bool open(const std::string& path, bool raw = false);
    // Standard input, which may be a pipe: any format libsndfile reads, or headerless, read to its end
    // with the samples the same file by name gives. It is left open on close().
    bool openStdin(bool raw = false);
    // The bytes must stay valid until close() or destruction.
    bool openMemory(const void* data, std::size_t size, bool raw = false);
    void close();
    bool isOpen() const { return _file != 0; }

    // Up to maxSamples converted samples into out: the count, 0 at the end of the input, -1 on error.
    int read(short* out, int maxSamples);

    // Null for none; set after open, it sees every frame decoded from then on, skipped ones too.
    void setSourceTap(SourceTap* tap) { _tap = tap; }

    const std::string& errorText() const { return _error; }
    int sourceRate() const { return _sourceRate; }
    int sourceChannels() const { return _sourceChannels; }
    long long sourceFrames() const { return _sourceFrames; }
    // Samples the whole input should give at 8000 Hz (exact unless the rate is converted).
    long long expectedSamples() const;
    // False where the header gives no length to hold the decoded frames against: a stream that declares
    // none, or an MPEG stream without a Xing or Info frame, whose frame count is only an estimate.
    bool lengthDeclared() const;

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
    // While a header is read, a seek past what has arrived is put off: header readers skip over the
    // audio to look for chunks after it and come back, which would cost the audio. A layout that
    // needs what lies past such a skip is read again from the start with the stream spooled to an
    // unlinked temporary file, where any position can be reached.
    struct PipeInput {
        int fd;
        std::vector<unsigned char> head;
        long long pos;
        long long received;
        bool deferSkips;
        bool deferred;
        int spool;
        // The last bytes that came, where the end of an Ogg stream is looked for.
        std::vector<unsigned char> tail;
    };

    // A file whose header is read with a few bytes replaced (a CAF size that runs past the end).
    struct PatchedFile {
        int fd;
        long long size;
        long long pos;
        long long patchAt;
        unsigned char patch[8];
    };

private:
    bool openFile(int fd, const struct stat& st, bool headerless);
    bool openPipe(int fd, bool raw);
    bool finishOpen(const SF_INFO& info, bool headerless);
    std::string bytesAt(long long offset, std::size_t n) const;
    bool mpegLengthIsExact() const;
    bool fail(const std::string& reason);
    bool fillPending();
    int readConverted(short* out, int maxSamples);
    bool sourceEnded();

    SNDFILE* _file;
    int _fd;
    SourceTap* _tap = nullptr;
    // Where bytesAt() reads a file's first bytes (-1 for a pipe or memory).
    int _headFd = -1;
    Resampler _resampler;
    MemoryInput _memory;
    PipeInput _pipe;
    PatchedFile _patched = {-1, 0, 0, 0, {}};
    std::string _error;
    int _sourceRate;
    int _sourceChannels;
    bool _ogg = false;
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
