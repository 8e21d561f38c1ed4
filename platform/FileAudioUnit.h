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
// so stopping and starting again pauses the recording. setSource and rewind go back to the start; seek
// puts the next instance at any sample.
//
// With a sound output chosen (setSoundOutput) a recording paced in real time is also heard: the reader
// hands the source's own frames, as it decodes them, to a second ring, and the output stream's callback
// is then the clock. Each pull takes the next frames for the speakers and hands the analysis the same
// stretch of the converted samples: everything up to the played frame's time, so the analysis sees
// exactly the samples it sees in silence, only cut into other blocks. An output that cannot be opened
// or started, or that ends or stops pulling for a second while playing (four while it starts), leaves the
// timer as the clock from where the sound stopped; takeSilenceNotice() then tells the user interface once.
// A new stream begins with a little silence (twice the output latency), which a sound server may drop.

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AudioUnitInstance.h"
#include "SoundOutput.h"
#include "SpscRing.h"
#include "sndfile/AudioFileReader.h"

namespace platform {

class FileAudioUnit : public AudioUnitInstance,
                      private AudioFileReader::SourceTap,
                      private SoundOutput::Client {
public:
    enum Pacing { REAL_TIME, AS_FAST_AS_POSSIBLE };

    // The component to select; instances read the file chosen with setSource.
    static AudioComponent component();
    static void setSource(const std::string& path, Pacing pacing = REAL_TIME, int blockFrames = 256);
    // The next instance starts at the beginning of the source.
    static void rewind();
    // The next instance starts at this sample of the converted source (and the matching source frame).
    static void seek(long long sample);
    // Samples of the source delivered by the instances stopped so far; true once one of them reached
    // the end.
    static long long sourcePosition();
    static bool sourceEnded();
    // The speakers later instances play through when paced in real time; null: silence.
    static void setSoundOutput(SoundOutput::Maker maker);
    // True once after an instance that should have played went silent; reason says why.
    static bool takeSilenceNotice(std::string* reason = nullptr);

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
    // True while the output stream is the clock; the latency it reports, in seconds.
    bool playing() const { return _clock.load() == CLOCK_OUTPUT; }
    double outputLatency() const { return _output ? _output->latency() : 0.0; }
    // The source frame the speakers reached.
    long long framesPlayed() const { return _framesPlayed.load(); }

private:
    static OSStatus makeInstance(void* context, AudioUnit* out);
    void halt();
    void readAhead();
    bool skipDelivered();
    void deliver();
    int takeBlock();
    // Audio thread: hands n samples of the block to the input callback (and the render, when the
    // unit's output is on) and counts them delivered.
    void passOn(AudioUnitRenderActionFlags* flags, int n) noexcept;
    void watchOutput();
    void fallSilent(const std::string& reason);
    void sourceFrames(const float* interleaved, int frames) override;
    void sourceSamples(const short* samples, int count) override;
    // Audio thread (the output's): the clock's tick.
    void play(float* out, unsigned long frames) noexcept override;
    // True once the sound and the analysis have both had everything.
    bool handOver() noexcept;

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

    // Sound: the output, the source's frames waiting for it (whole interleaved frames), and the clock.
    enum { CLOCK_TIMER, CLOCK_OUTPUT };
    std::unique_ptr<SoundOutput> _output;
    SpscRing<float> _sound;
    std::vector<float> _tapScratch;
    int _rate = 0;
    int _channels = 0;
    long long _framesAt = 0;
    // Reader thread: source frames before the resumed position, still to drop.
    long long _framesToSkip = 0;
    std::atomic<long long> _framesPlayed{0};
    std::atomic<int> _clock{CLOCK_TIMER};
    std::atomic<int> _inside{0};
    std::atomic<unsigned long> _pulls{0};
    // Audio thread: frames of silence still to play after the end.
    long long _tailLeft = 0;
    // Audio thread: frames of silence still to play before the recording's first.
    long long _leadLeft = 0;
    // Audio thread: the reader has been ahead by the cushion (samples of the sound ring) since the start.
    bool _primed = false;
    std::size_t _cushion = 0;
};

} // namespace platform
