#pragma once
// A recording played into the voice unit as if a microphone heard it. A reader thread decodes the file
// ahead (any format the shared reader knows, as 16-bit mono 8000 Hz) into a ring; the audio thread takes
// fixed blocks from the ring and runs the input callback for each, either paced in real time against
// absolute deadlines (so it never drifts) or as fast as the consumer takes them. Only the reader thread
// touches the disk. The input ends quietly at the end of the file; a recording cut short ends at its
// break with one warning line on standard error; a read error before any audio is reported as a device
// failure. The capture rate must be 8000 Hz, the rate the reader delivers.
//
// The source keeps its position across instances: an instance made after another one stopped resumes
// where that one left off (its reader skips what was already delivered before the first block is due),
// so stopping and starting again pauses the recording. setSource and rewind go back to the start.

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "AudioFileReader.h"
#include "AudioUnitInstance.h"

namespace platform {

class FileAudioUnit : public AudioUnitInstance {
public:
    enum Pacing { REAL_TIME, AS_FAST_AS_POSSIBLE };

    // The component to select; instances read the file chosen with setSource.
    static AudioComponent component();
    static void setSource(const std::string& path, Pacing pacing = REAL_TIME, int blockFrames = 256);
    // The next instance starts at the beginning of the source.
    static void rewind();
    // Samples of the source delivered by the instances stopped so far; true once one of them reached
    // the end.
    static long long sourcePosition();
    static bool sourceEnded();

    FileAudioUnit();
    ~FileAudioUnit() override;

    OSStatus initialize() override;
    OSStatus start() override;
    OSStatus stop() override;
    OSStatus render(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timeStamp, UInt32 bus,
                    UInt32 frames, AudioBufferList* ioData) override;

    // True once every sample of the file has been delivered.
    bool finished() const { return _finished.load(std::memory_order_acquire); }
    bool inputEnded() const override { return finished(); }
    long long samplesDelivered() const { return _delivered.load(std::memory_order_acquire); }
    // Once finished(): empty, or a sentence saying that the recording was cut short and what is missing.
    const std::string& warning() const { return _warning; }
    // Where in the source the next block starts: the resumed position plus what this instance delivered.
    long long position() const { return _startAt + samplesDelivered(); }

private:
    static OSStatus makeInstance(void* context, AudioUnit* out);
    void halt();
    void readAhead();
    bool skipDelivered();
    void deliver();
    int takeBlock();

    std::string _path;
    std::string _warning;
    Pacing _pacing;
    int _blockFrames;
    AudioFileReader _reader;
    bool _initialized;
    // The source's position when this instance was made, and which setSource/rewind it belongs to.
    long long _startAt;
    unsigned _generation;
    // Set by the reader once the samples before _startAt are skipped; the first block is due after.
    std::atomic<bool> _positioned;
    // Reader thread: samples still to skip.
    long long _toSkip;

    // Single-producer, single-consumer ring: the reader writes at _tail, the audio thread reads at _head.
    std::vector<short> _ring;
    std::atomic<long long> _head;
    std::atomic<long long> _tail;
    std::atomic<bool> _endOfInput;
    std::vector<short> _readChunk;
    std::vector<short> _block;
    std::vector<short> _playScratch;
    int _blockLength;

    std::atomic<bool> _running;
    std::atomic<bool> _finished;
    std::atomic<long long> _delivered;
    std::thread _readerThread;
    std::thread _audioThread;
};

} // namespace platform
