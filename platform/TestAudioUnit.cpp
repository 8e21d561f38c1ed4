// The scriptable audio unit (see the header). Requests travel to its audio thread through a mutex-guarded
// queue: this is test machinery, so clarity beats real-time behaviour here; the hooks let a test measure
// the input callback alone.

#include "TestAudioUnit.h"

#include <chrono>
#include <cstring>

namespace platform {

TestAudioUnit::Script::Script()
    : fail(), component(), current(0), instancesMade(0), instancesDisposed(0), inputHook(0),
      inputHookContext(0) {
    component.name = "test double";
    component.newInstance = &TestAudioUnit::makeInstance;
    component.context = this;
}

bool TestAudioUnit::Script::wasSet(AudioUnitPropertyID id, AudioUnitScope scope,
                                   AudioUnitElement element) const {
    for (const PropertyCall& call : properties)
        if (call.id == id && call.scope == scope && call.element == element)
            return true;
    return false;
}

OSStatus TestAudioUnit::makeInstance(void* context, AudioUnit* out) {
    Script* script = static_cast<Script*>(context);
    if (script->fail[STEP_NEW_INSTANCE])
        return kAudioUnitErr_FailedInitialization;
    TestAudioUnit* unit = new TestAudioUnit(*script);
    *out = unit;
    return noErr;
}

TestAudioUnit::TestAudioUnit(Script& script)
    : _script(script), _initialized(false), _running(false), _busy(false), _renderDone(false), _capturing(0) {
    ++_script.instancesMade;
    _script.current = this;
}

TestAudioUnit::~TestAudioUnit() {
    halt();
    ++_script.instancesDisposed;
    if (_script.current == this)
        _script.current = 0;
}

OSStatus TestAudioUnit::setProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                    const void* data, UInt32 size) {
    PropertyCall call = {id, scope, element, 0};
    if (data != 0 && size >= sizeof(UInt32))
        std::memcpy(&call.value, data, sizeof(UInt32));
    _script.properties.push_back(call);
    if (id == kAudioUnitProperty_StreamFormat && scope == kAudioUnitScope_Output &&
        _script.fail[STEP_INPUT_FORMAT])
        return kAudioUnitErr_FormatNotSupported;
    if (id == kAudioUnitProperty_StreamFormat && scope == kAudioUnitScope_Input &&
        _script.fail[STEP_OUTPUT_FORMAT])
        return kAudioUnitErr_FormatNotSupported;
    if (id == kAudioOutputUnitProperty_SetInputCallback && _script.fail[STEP_INPUT_CALLBACK])
        return kAudioUnitErr_InvalidProperty;
    if (id == kAudioUnitProperty_SetRenderCallback && _script.fail[STEP_RENDER_CALLBACK])
        return kAudioUnitErr_InvalidProperty;
    return AudioUnitInstance::setProperty(id, scope, element, data, size);
}

OSStatus TestAudioUnit::initialize() {
    if (_script.fail[STEP_INITIALIZE])
        return kAudioUnitErr_FailedInitialization;
    _initialized = true;
    return noErr;
}

OSStatus TestAudioUnit::start() {
    if (_script.fail[STEP_START] || !_initialized)
        return kAudioUnitErr_CannotDoInCurrentContext;
    std::lock_guard<std::mutex> lock(_mutex);
    if (_running)
        return noErr;
    armDeviceFailure();
    _running = true;
    _thread = std::thread(&TestAudioUnit::run, this);
    return noErr;
}

OSStatus TestAudioUnit::stop() {
    if (_script.fail[STEP_STOP])
        return kAudioUnitErr_CannotDoInCurrentContext;
    halt();
    return noErr;
}

void TestAudioUnit::halt() {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _running = false;
    }
    _changed.notify_all();
    if (_thread.joinable())
        _thread.join();
    std::lock_guard<std::mutex> lock(_mutex);
    _requests.clear();
}

bool TestAudioUnit::isRunning() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _running;
}

OSStatus TestAudioUnit::render(AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32 bus, UInt32 frames,
                               AudioBufferList* ioData) {
    if (bus != 1)
        return noErr;
    if (_script.fail[STEP_RENDER] || _capturing == 0)
        return kAudioUnitErr_CannotDoInCurrentContext;
    UInt32 n = frames;
    if (n > _capturing->size())
        n = UInt32(_capturing->size());
    if (n > ioData->mBuffers[0].mDataByteSize / 2)
        n = ioData->mBuffers[0].mDataByteSize / 2;
    if (n > 0)
        std::memcpy(ioData->mBuffers[0].mData, _capturing->data(), n * sizeof(short));
    return noErr;
}

void TestAudioUnit::push(const std::vector<short>& samples) {
    Request request = {Request::CAPTURE, samples, UInt32(samples.size()), 0};
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _requests.push_back(request);
    }
    _changed.notify_all();
}

bool TestAudioUnit::waitUntilIdle(double timeoutSeconds) {
    std::unique_lock<std::mutex> lock(_mutex);
    return _changed.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                             [this] { return !_running || (_requests.empty() && !_busy); });
}

bool TestAudioUnit::renderOutput(UInt32 frames, UInt32 capacity, std::vector<short>& written) {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (!_running)
            return false;
        _renderDone = false;
        _requests.push_back(Request{Request::RENDER, std::vector<short>(), frames, capacity});
    }
    _changed.notify_all();
    std::unique_lock<std::mutex> lock(_mutex);
    _changed.wait(lock, [this] { return _renderDone || !_running; });
    written = _rendered;
    return _renderDone;
}

void TestAudioUnit::failDevice() {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _requests.push_back(Request{Request::FAIL, std::vector<short>(), 0, 0});
    }
    _changed.notify_all();
}

void TestAudioUnit::run() {
    std::unique_lock<std::mutex> lock(_mutex);
    for (;;) {
        _changed.wait(lock, [this] { return !_running || !_requests.empty(); });
        if (!_running)
            return;
        Request request = std::move(_requests.front());
        _requests.pop_front();
        _busy = true;
        lock.unlock();
        execute(request);
        lock.lock();
        _busy = false;
        _changed.notify_all();
    }
}

void TestAudioUnit::execute(Request& request) {
    AudioUnitRenderActionFlags flags = 0;
    AudioTimeStamp stamp = {0, 0};
    switch (request.kind) {
    case Request::CAPTURE:
        _capturing = &request.samples;
        if (_script.inputHook != 0)
            _script.inputHook(false, _script.inputHookContext);
        callInput(&flags, &stamp, request.frames);
        if (_script.inputHook != 0)
            _script.inputHook(true, _script.inputHookContext);
        _capturing = 0;
        break;
    case Request::RENDER: {
        std::vector<short> out(request.capacity, short(0x7abc));
        AudioBufferList list;
        list.mNumberBuffers = 1;
        list.mBuffers[0].mNumberChannels = 1;
        list.mBuffers[0].mDataByteSize = request.capacity * 2;
        list.mBuffers[0].mData = out.data();
        callRender(&flags, &stamp, request.frames, &list);
        out.resize(list.mBuffers[0].mDataByteSize / 2);
        std::lock_guard<std::mutex> lock(_mutex);
        _rendered = out;
        _renderDone = true;
        break;
    }
    case Request::FAIL:
        reportDeviceFailure();
        break;
    }
}

} // namespace platform
