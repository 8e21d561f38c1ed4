// The scriptable speakers (see the header). A pull and a stop exclude each other, so no call of the
// client follows stop() as the contract asks.

#include "TestSoundOutput.h"

#include <chrono>

namespace platform {

namespace {
std::atomic<TestSoundOutput::Script*> activeScript{nullptr};
} // namespace

void TestSoundOutput::use(Script* script) {
    activeScript.store(script);
}

SoundOutput* TestSoundOutput::make() {
    return new TestSoundOutput(activeScript.load());
}

TestSoundOutput::TestSoundOutput(Script* script) : _script(script) {}

TestSoundOutput::~TestSoundOutput() {
    stop();
    TestSoundOutput* self = this;
    _script->current.compare_exchange_strong(self, nullptr);
}

bool TestSoundOutput::open(int rate, int channels, Client* client, std::string& reason) {
    if (_script->failOpen) {
        reason = "no audio output found";
        return false;
    }
    _client = client;
    _script->rate = rate;
    _script->channels = channels;
    _script->current.store(this);
    ++_script->opened;
    return true;
}

bool TestSoundOutput::start(std::string& reason) {
    if (_script->failStart || _client == nullptr) {
        reason = "cannot start the sound output: the device is busy";
        return false;
    }
    _running.store(true);
    ++_script->started;
    if (_script->autoPull)
        _thread = std::thread(&TestSoundOutput::pullAlong, this);
    return true;
}

void TestSoundOutput::stop() {
    {
        std::lock_guard<std::mutex> lock(_pullMutex);
        _running.store(false);
    }
    if (_thread.joinable())
        _thread.join();
}

bool TestSoundOutput::pull(float* out, unsigned long frames) {
    std::lock_guard<std::mutex> lock(_pullMutex);
    if (!_running.load() || _failed.load() || _frozen.load())
        return false;
    _client->play(out, frames);
    return true;
}

void TestSoundOutput::fail() {
    std::lock_guard<std::mutex> lock(_pullMutex);
    _failed.store(true);
}

void TestSoundOutput::pullAlong() {
    // Paced as a device is, against absolute deadlines.
    std::vector<float> block(_script->block * unsigned(_script->channels));
    const auto period = std::chrono::duration<double>(double(_script->block) / _script->rate);
    const auto origin = std::chrono::steady_clock::now();
    for (long long n = 1; _running.load(); ++n) {
        std::this_thread::sleep_until(
            origin + std::chrono::duration_cast<std::chrono::steady_clock::duration>(period * double(n)));
        if (!pull(block.data(), _script->block))
            continue;
        std::lock_guard<std::mutex> lock(_script->heardMutex);
        _script->heard.insert(_script->heard.end(), block.begin(), block.end());
    }
}

} // namespace platform
