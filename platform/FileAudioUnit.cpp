// The paced file backend (see the header). The ring holds two seconds: enough slack for the reader's
// disk waits, small enough to keep memory flat. Waits are sleeps, the reader's as long as the room it
// waits for takes to free; the audio thread never blocks on the reader except when it has overtaken it
// in the as-fast-as-possible mode. The position kept for
// the next instance is what the audio thread delivered, not what the reader read ahead: samples still
// in the ring when capture stops are read again on resumption.
//
// Heard, the position is kept twice: the converted samples delivered, and the source frames played. The
// analysis is handed samples up to floor(played * 8000 / rate), everything once the sound has ended, so
// the two stay within a sample of each other; a silent instance keeps the frame that matches its samples.
// The sound ring holds three seconds of the source and room for the decoder's largest piece, so the
// reader, which decodes for both rings at once, waits for neither in steady state.

#include "FileAudioUnit.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace platform {

namespace {

constexpr int ringSize = 16384;
constexpr int readChunk = 1024;

std::mutex sourceMutex;
std::string sourcePath;
FileAudioUnit::Pacing sourcePacing = FileAudioUnit::REAL_TIME;
int sourceBlock = 256;
long long resumePosition = 0;
bool resumeAtEnd = false;
unsigned sourceGeneration = 0;
long long resumeFrames = 0;
SoundOutput::Maker soundMaker = nullptr;
bool silenceNotice = false;
std::string silenceReason;

// An output that pulls nothing for this long while playing is taken for gone; a sound server can take
// well over a second to start a stream after its first few pulls, so a new stream has longer.
constexpr auto outputStall = std::chrono::milliseconds(1000);
constexpr auto outputStartStall = std::chrono::milliseconds(4000);
constexpr int tapChunk = 4096;
// Silence played after the last frame before the recording counts as ended, beyond the output's
// latency: stopping then cuts nothing that was still on its way to the speakers.
constexpr double drainSeconds = 0.2;
// Silence a new stream starts with, in output latencies: a sound server may drop what a stream is given
// while it sets the stream up (here the first 120 to 150 ms, twice an 80 ms latency covering it), so a
// recording shorter than that, or the first words after a seek, would never be heard.
constexpr double leadInShare = 2.0;

} // namespace

AudioComponent FileAudioUnit::component() {
    static const AudioComponentEntry entry = {"file", &FileAudioUnit::makeInstance, 0};
    return &entry;
}

void FileAudioUnit::setSource(const std::string& path, Pacing pacing, int blockFrames) {
    std::lock_guard<std::mutex> lock(sourceMutex);
    sourcePath = path;
    sourcePacing = pacing;
    sourceBlock = blockFrames < 1 ? 1 : (blockFrames > ringSize / 2 ? ringSize / 2 : blockFrames);
    resumePosition = 0;
    resumeFrames = 0;
    resumeAtEnd = false;
    ++sourceGeneration;
}

void FileAudioUnit::rewind() {
    std::lock_guard<std::mutex> lock(sourceMutex);
    resumePosition = 0;
    resumeFrames = 0;
    resumeAtEnd = false;
    ++sourceGeneration;
}

void FileAudioUnit::seek(long long sample) {
    std::lock_guard<std::mutex> lock(sourceMutex);
    resumePosition = std::max(0LL, sample);
    // The source frame follows from the rate, known once a reader has opened the file.
    resumeFrames = -1;
    resumeAtEnd = false;
    // An instance still running must not put its own place back when it stops.
    ++sourceGeneration;
}

void FileAudioUnit::setSoundOutput(SoundOutput::Maker maker) {
    std::lock_guard<std::mutex> lock(sourceMutex);
    soundMaker = maker;
}

bool FileAudioUnit::takeSilenceNotice(std::string* reason) {
    std::lock_guard<std::mutex> lock(sourceMutex);
    if (!silenceNotice)
        return false;
    silenceNotice = false;
    if (reason)
        *reason = silenceReason;
    return true;
}

void FileAudioUnit::fallSilent(const std::string& reason) {
    std::lock_guard<std::mutex> lock(sourceMutex);
    silenceNotice = true;
    silenceReason = reason;
}

long long FileAudioUnit::sourcePosition() {
    std::lock_guard<std::mutex> lock(sourceMutex);
    return resumePosition;
}

bool FileAudioUnit::sourceEnded() {
    std::lock_guard<std::mutex> lock(sourceMutex);
    return resumeAtEnd;
}

OSStatus FileAudioUnit::makeInstance(void*, AudioUnit* out) {
    *out = new FileAudioUnit();
    return noErr;
}

FileAudioUnit::FileAudioUnit()
    : _pacing(REAL_TIME), _blockFrames(256), _initialized(false), _startAt(0), _generation(0),
      _positioned(false), _toSkip(0), _ring(ringSize), _head(0), _tail(0), _endOfInput(false),
      _readChunk(readChunk), _blockLength(0), _running(false), _finished(false), _delivered(0) {
    std::lock_guard<std::mutex> lock(sourceMutex);
    _path = sourcePath;
    _pacing = sourcePacing;
    _blockFrames = sourceBlock;
    _startAt = resumePosition;
    _toSkip = _startAt;
    _framesAt = resumeFrames;
    _framesPlayed.store(_framesAt);
    _generation = sourceGeneration;
    _block.resize(_blockFrames);
    _playScratch.resize(_blockFrames);
}

FileAudioUnit::~FileAudioUnit() {
    halt();
}

OSStatus FileAudioUnit::initialize() {
    if (OSStatus status = checkConfiguration())
        return status;
    if (inputFormat().mSampleRate != AudioFileReader::OUTPUT_RATE) {
        setAudioErrorReason("recordings are read at 8000 samples per second only");
        return kAudioUnitErr_FormatNotSupported;
    }
    if (_path.empty()) {
        setAudioErrorReason("no input file was given");
        return kAudioUnitErr_FailedInitialization;
    }
    if (!_reader.open(_path)) {
        setAudioErrorReason("cannot read \"" + _path + "\": " + _reader.errorText());
        return kAudioUnitErr_FailedInitialization;
    }
    _rate = _reader.sourceRate();
    _channels = _reader.sourceChannels();
    if (_framesAt < 0) {
        _framesAt = _startAt * _rate / AudioFileReader::OUTPUT_RATE;
        _framesPlayed.store(_framesAt);
    }
    SoundOutput::Maker maker = nullptr;
    {
        std::lock_guard<std::mutex> lock(sourceMutex);
        maker = soundMaker;
    }
    if (_pacing == REAL_TIME && maker && _rate > 0 && _channels > 0) {
        _output.reset(maker());
        std::string reason;
        if (_output->open(_rate, _channels, this, reason)) {
            _sound.reset(std::size_t(_rate * 3LL + 65536) * std::size_t(_channels));
            _tapScratch.resize(tapChunk);
            _framesToSkip = _framesAt;
            _tailLeft = static_cast<long long>((_output->latency() + drainSeconds) * _rate);
            _reader.setSourceTap(this);
        } else {
            _output.reset();
            fallSilent(reason);
        }
    }
    _initialized = true;
    return noErr;
}

OSStatus FileAudioUnit::start() {
    if (!_initialized)
        return kAudioUnitErr_Uninitialized;
    if (_running.load())
        return noErr;
    armDeviceFailure();
    _running.store(true);
    if (_output) {
        // Until the reader stands at the resumed position the output plays silence.
        _leadLeft = static_cast<long long>(_output->latency() * leadInShare * _rate);
        _primed = false;
        _cushion = std::size_t(_rate / 10) * std::size_t(_channels);
        _clock.store(CLOCK_OUTPUT);
        std::string reason;
        if (!_output->start(reason)) {
            _clock.store(CLOCK_TIMER);
            _output->stop();
            fallSilent(reason);
        }
    }
    _readerThread = std::thread(&FileAudioUnit::readAhead, this);
    _audioThread = std::thread(playing() ? &FileAudioUnit::watchOutput : &FileAudioUnit::deliver, this);
    return noErr;
}

OSStatus FileAudioUnit::stop() {
    halt();
    return noErr;
}

void FileAudioUnit::halt() {
    _running.store(false);
    if (_audioThread.joinable())
        _audioThread.join();
    // Aborted, not drained: nothing buffered is heard after a pause.
    if (_output)
        _output->stop();
    if (_readerThread.joinable())
        _readerThread.join();
    if (!_initialized)
        return;
    std::lock_guard<std::mutex> lock(sourceMutex);
    if (_generation == sourceGeneration) {
        resumePosition = position();
        resumeAtEnd = finished();
        resumeFrames = playing() ? _framesPlayed.load() : position() * _rate / AudioFileReader::OUTPUT_RATE;
    }
}

OSStatus FileAudioUnit::render(AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32 bus, UInt32 frames,
                               AudioBufferList* ioData) {
    if (bus != 1)
        return noErr;
    UInt32 n = frames < UInt32(_blockLength) ? frames : UInt32(_blockLength);
    if (n > ioData->mBuffers[0].mDataByteSize / 2)
        n = ioData->mBuffers[0].mDataByteSize / 2;
    if (n > 0)
        std::memcpy(ioData->mBuffers[0].mData, _block.data(), n * sizeof(short));
    return noErr;
}

bool FileAudioUnit::skipDelivered() {
    while (_toSkip > 0) {
        if (!_running.load())
            return false;
        const int got = _reader.read(_readChunk.data(), int(_toSkip < readChunk ? _toSkip : readChunk));
        if (got < 0) {
            setAudioErrorReason("cannot read \"" + _path + "\": " + _reader.errorText());
            _endOfInput.store(true);
            reportDeviceFailure();
            break;
        }
        if (got == 0) {
            // The file is shorter now than where it stopped: it has ended.
            _endOfInput.store(true, std::memory_order_release);
            break;
        }
        _toSkip -= got;
    }
    _toSkip = 0;
    _positioned.store(true, std::memory_order_release);
    return !_endOfInput.load();
}

void FileAudioUnit::readAhead() {
    if (!_positioned.load(std::memory_order_acquire) && !skipDelivered())
        return;
    while (_running.load() && !_endOfInput.load()) {
        const long long tail = _tail.load(std::memory_order_relaxed);
        const long long room = ringSize - (tail - _head.load(std::memory_order_acquire));
        if (room < readChunk) {
            // Paced, the audio thread frees the missing room at the sample rate: sleeping about that long
            // (capped, so a stop is seen soon) spares hundreds of idle wake-ups a second.
            std::chrono::microseconds wait(2000);
            if (_pacing == REAL_TIME)
                wait = std::chrono::microseconds(std::min(
                    50000LL,
                    std::max(2000LL, (readChunk - room) * 1000000LL / AudioFileReader::OUTPUT_RATE)));
            std::this_thread::sleep_for(wait);
            continue;
        }
        const int got = _reader.read(_readChunk.data(), readChunk);
        if (got < 0) {
            setAudioErrorReason("cannot read \"" + _path + "\": " + _reader.errorText());
            _endOfInput.store(true);
            reportDeviceFailure();
            return;
        }
        for (int i = 0; i < got; ++i)
            _ring[size_t((tail + i) % ringSize)] = _readChunk[size_t(i)];
        _tail.store(tail + got, std::memory_order_release);
        if (got == 0) {
            if (_reader.truncated()) {
                _warning = "the recording \"" + _path + "\" is cut short (" + _reader.truncation() +
                           "); analysed up to the break";
                std::fprintf(stderr, "veraxo: warning: %s\n", _warning.c_str());
            }
            _endOfInput.store(true, std::memory_order_release);
        }
    }
}

int FileAudioUnit::takeBlock() {
    for (;;) {
        // Read the end flag before the tail: once the reader is done, the tail is final.
        const bool end = _endOfInput.load(std::memory_order_acquire);
        const long long head = _head.load(std::memory_order_relaxed);
        const long long available = _tail.load(std::memory_order_acquire) - head;
        if (available >= _blockFrames || end) {
            const int n = int(available < _blockFrames ? available : _blockFrames);
            for (int i = 0; i < n; ++i)
                _block[size_t(i)] = _ring[size_t((head + i) % ringSize)];
            _head.store(head + n, std::memory_order_release);
            return n;
        }
        if (!_running.load())
            return -1;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
}

void FileAudioUnit::passOn(AudioUnitRenderActionFlags* flags, int n) noexcept {
    AudioTimeStamp stamp = {double(_delivered.load()), 0};
    callInput(flags, &stamp, UInt32(n));
    if (outputEnabled()) {
        AudioBufferList list;
        list.mNumberBuffers = 1;
        list.mBuffers[0].mNumberChannels = 1;
        list.mBuffers[0].mDataByteSize = UInt32(n * 2);
        list.mBuffers[0].mData = _playScratch.data();
        callRender(flags, &stamp, UInt32(n), &list);
    }
    _delivered.fetch_add(n, std::memory_order_release);
}

void FileAudioUnit::deliver() {
    using clock = std::chrono::steady_clock;
    const auto period = std::chrono::duration<double>(double(_blockFrames) / AudioFileReader::OUTPUT_RATE);
    // Resumption: the clock starts once the reader stands where the last instance stopped.
    while (!_positioned.load(std::memory_order_acquire)) {
        if (!_running.load())
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto origin = clock::now();
    AudioUnitRenderActionFlags flags = 0;
    long long periods = 0;
    while (_running.load()) {
        if (_pacing == REAL_TIME) {
            // A block is due once all its samples would have reached a microphone.
            std::this_thread::sleep_until(
                origin + std::chrono::duration_cast<clock::duration>(period * double(periods + 1)));
            if (!_running.load())
                return;
        }
        const int n = takeBlock();
        if (n <= 0) {
            if (n == 0)
                _finished.store(true, std::memory_order_release);
            return;
        }
        _blockLength = n;
        passOn(&flags, int(n));
        ++periods;
    }
}

void FileAudioUnit::watchOutput() {
    while (!_positioned.load(std::memory_order_acquire)) {
        if (!_running.load())
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    using clock = std::chrono::steady_clock;
    unsigned long seen = _pulls.load();
    const clock::time_point started = clock::now();
    clock::time_point lastPull = started;
    while (_running.load() && !finished()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const unsigned long pulls = _pulls.load();
        if (pulls != seen) {
            seen = pulls;
            lastPull = clock::now();
        }
        const auto limit = clock::now() - started < outputStartStall ? outputStartStall : outputStall;
        if (!_output->failed() && clock::now() - lastPull < limit)
            continue;
        // The speakers are gone: the timer takes the clock over where they stopped, once no pull is
        // under way, and the reader stops feeding them.
        _clock.store(CLOCK_TIMER);
        while (_inside.load() != 0)
            std::this_thread::yield();
        fallSilent(_output->failed() ? "the sound output ended" : "the sound output stopped playing");
        deliver();
        return;
    }
}

void FileAudioUnit::play(float* out, unsigned long frames) noexcept {
    _inside.fetch_add(1);
    _pulls.fetch_add(1, std::memory_order_relaxed);
    const std::size_t channels = std::size_t(_channels);
    const std::size_t wanted = std::size_t(frames) * channels;
    std::size_t got = 0;
    // The sound starts once the reader is a little ahead (or done), so that its first pulls find no gap.
    if (!_primed && _positioned.load(std::memory_order_acquire))
        _primed = _endOfInput.load(std::memory_order_acquire) || _sound.available() >= _cushion;
    if (_leadLeft > 0) {
        _leadLeft -= static_cast<long long>(frames);
    } else if (_clock.load() == CLOCK_OUTPUT && _running.load() && _primed) {
        got = _sound.pop(out, std::min(wanted, _sound.available() / channels * channels));
        _framesPlayed.fetch_add(static_cast<long long>(got / channels));
        // The end is the end once what the device still holds has been heard.
        if (handOver() && (_tailLeft -= static_cast<long long>(frames)) <= 0)
            _finished.store(true, std::memory_order_release);
    }
    if (got < wanted)
        std::memset(out + got, 0, (wanted - got) * sizeof(float));
    _inside.fetch_sub(1);
}

bool FileAudioUnit::handOver() noexcept {
    // Read the end flag before either ring: once the reader is done, both are final.
    const bool end = _endOfInput.load(std::memory_order_acquire);
    const bool soundDone = end && _sound.available() < std::size_t(_channels);
    const long long target =
        soundDone ? LLONG_MAX : _framesPlayed.load() * AudioFileReader::OUTPUT_RATE / _rate;
    AudioUnitRenderActionFlags flags = 0;
    for (;;) {
        const long long head = _head.load(std::memory_order_relaxed);
        const long long available = _tail.load(std::memory_order_acquire) - head;
        const long long n = std::min({target - position(), available, static_cast<long long>(_block.size())});
        if (n <= 0)
            break;
        for (long long i = 0; i < n; ++i)
            _block[size_t(i)] = _ring[size_t((head + i) % ringSize)];
        _head.store(head + n, std::memory_order_release);
        _blockLength = int(n);
        passOn(&flags, int(n));
    }
    return soundDone && _tail.load(std::memory_order_acquire) == _head.load(std::memory_order_relaxed);
}

void FileAudioUnit::sourceFrames(const float* interleaved, int frames) {
    if (_framesToSkip > 0) {
        const long long skipped = std::min<long long>(frames, _framesToSkip);
        interleaved += skipped * _channels;
        frames -= int(skipped);
        _framesToSkip -= skipped;
    }
    const std::size_t channels = std::size_t(_channels);
    std::size_t left = std::size_t(frames) * channels;
    while (left > 0 && _running.load() && playing()) {
        const std::size_t n = _sound.push(interleaved, std::min(left, _sound.room() / channels * channels));
        interleaved += n;
        left -= n;
        if (n == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void FileAudioUnit::sourceSamples(const short* samples, int count) {
    while (count > 0) {
        const int n = std::min(count, tapChunk);
        for (int i = 0; i < n; ++i)
            _tapScratch[size_t(i)] = float(samples[i]) / 32768.0f;
        sourceFrames(_tapScratch.data(), n);
        samples += n;
        count -= n;
    }
}

} // namespace platform
