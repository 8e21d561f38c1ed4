#pragma once
// A scriptable stand-in for the speakers, for tests. Its script, shared with the test, makes opening or
// starting fail, records what was opened, and reaches the live stream: the test pulls frames through the
// client on its own thread, or lets the stream pull on a thread of its own (blocks of `block` frames, in
// real time as a device does, with what was heard kept in the script), and can make the stream end as
// an unplugged device's does, or freeze without ending.

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SoundOutput.h"

namespace platform {

class TestSoundOutput : public SoundOutput {
public:
    struct Script {
        bool failOpen = false;
        bool failStart = false;
        // A thread of the stream's own pulls in real time while started.
        bool autoPull = false;
        unsigned long block = 512;
        double latency = 0.02;

        std::atomic<TestSoundOutput*> current{nullptr};
        std::atomic<int> opened{0};
        std::atomic<int> started{0};
        int rate = 0;
        int channels = 0;
        std::mutex heardMutex;
        std::vector<float> heard;
    };

    // The script the next streams follow (null: none); make() is the maker to hand the file backend.
    static void use(Script* script);
    static SoundOutput* make();

    explicit TestSoundOutput(Script* script);
    ~TestSoundOutput() override;

    bool open(int rate, int channels, Client* client, std::string& reason) override;
    bool start(std::string& reason) override;
    void stop() override;
    bool failed() const override { return _failed.load(); }
    double latency() const override { return _script->latency; }

    // Runs the client for `frames` frames into out (room for frames * channels) on the calling thread;
    // false, with nothing run, unless the stream is started and neither failed nor frozen.
    bool pull(float* out, unsigned long frames);
    // The stream ends on its own: no further pull, failed() true.
    void fail();
    // The stream stops pulling but does not say so.
    void freeze() { _frozen.store(true); }

private:
    void pullAlong();

    Script* _script;
    Client* _client = nullptr;
    std::atomic<bool> _running{false};
    std::atomic<bool> _failed{false};
    std::atomic<bool> _frozen{false};
    std::mutex _pullMutex;
    std::thread _thread;
};

} // namespace platform
