// The paced file backend (see the header). The ring holds two seconds: enough slack for the reader's
// disk waits, small enough to keep memory flat. Waits are sleeps, the reader's as long as the room it
// waits for takes to free; the audio thread never blocks on the reader except when it has overtaken it
// in the as-fast-as-possible mode. The position kept for
// the next instance is what the audio thread delivered, not what the reader read ahead: samples still
// in the ring when capture stops are read again on resumption.

#include "FileAudioUnit.h"

#include <algorithm>
#include <chrono>
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
    resumeAtEnd = false;
    ++sourceGeneration;
}

void FileAudioUnit::rewind() {
    std::lock_guard<std::mutex> lock(sourceMutex);
    resumePosition = 0;
    resumeAtEnd = false;
    ++sourceGeneration;
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
    _readerThread = std::thread(&FileAudioUnit::readAhead, this);
    _audioThread = std::thread(&FileAudioUnit::deliver, this);
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
    if (_readerThread.joinable())
        _readerThread.join();
    if (!_initialized)
        return;
    std::lock_guard<std::mutex> lock(sourceMutex);
    if (_generation == sourceGeneration) {
        resumePosition = position();
        resumeAtEnd = finished();
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
                wait = std::chrono::microseconds(
                    std::min(50000LL, std::max(2000LL, (readChunk - room) * 1000000LL / AudioFileReader::OUTPUT_RATE)));
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
        AudioTimeStamp stamp = {double(_delivered.load()), 0};
        callInput(&flags, &stamp, UInt32(n));
        if (outputEnabled()) {
            AudioBufferList list;
            list.mNumberBuffers = 1;
            list.mBuffers[0].mNumberChannels = 1;
            list.mBuffers[0].mDataByteSize = UInt32(n * 2);
            list.mBuffers[0].mData = _playScratch.data();
            callRender(&flags, &stamp, UInt32(n), &list);
        }
        _delivered.fetch_add(n, std::memory_order_release);
        ++periods;
    }
}

} // namespace platform
