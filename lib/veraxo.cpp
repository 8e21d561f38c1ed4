// The C interface over VeraxoEngine and AudioFileReader. Frames are assembled as veraxo-analyze
// assembles its CSV rows: the engine delivers each frame's lie level just before its spectrum, and a
// frame is complete when the spectrum arrives. The engine closes one frame per 128-sample hop, so the
// frames a push completes are known before any sample is consumed, which lets a push that lacks room
// refuse without touching the stream. Samples go to the engine in bounded chunks so that its block
// buffers stop growing after the first chunk. Nothing here lets an exception out: every entry point
// catches all, and running out of memory becomes NULL, -1 or an error code.

#include "include/veraxo/veraxo.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "Shared/Signal/Filter/Mel.h"
#include "Shared/VeraxoEngine.h"
#include "VeraxoVersion.h"
#include "sndfile/AudioFileReader.h"

#define VX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const std::size_t HOP = 128;
const std::size_t CHUNK = 4096;

static_assert(Signal::Filter::Mel::BANDS == sizeof(vx_frame::spectrum) / sizeof(float),
              "a frame holds every mel band");

} // namespace

struct vx_engine {
    vx_engine() : lieLevel(0.0f), pending(0), out(0), written(0), room(0), broken(false) {
        typedef brel::callback2<void, const Signal::Sample*, int> Callback;
        engine.attachOutput(VeraxoEngine::OUTPUT_LIE_LEVEL, Callback(this, &vx_engine::onLieLevel));
        engine.attachOutput(VeraxoEngine::OUTPUT_SPECTRUM, Callback(this, &vx_engine::onSpectrum));
    }

    // Frames that count more samples would complete.
    std::size_t framesFor(std::size_t count) const { return count / HOP + (pending + count % HOP) / HOP; }

    // Feeds samples, writing their frames to frames[0 .. room); the frames written.
    std::size_t feed(const int16_t* samples, std::size_t count, vx_frame* frames, std::size_t maxFrames) {
        out = frames;
        written = 0;
        room = maxFrames;
        for (std::size_t done = 0; done < count;) {
            const std::size_t n = count - done < CHUNK ? count - done : CHUNK;
            engine.input(samples + done, static_cast<int>(n));
            done += n;
        }
        pending = (pending + count % HOP) % HOP;
        out = 0;
        room = 0;
        return written;
    }

    void onLieLevel(const Signal::Sample* data, int dataLen) {
        if (dataLen > 0)
            lieLevel = data[0];
    }

    void onSpectrum(const Signal::Sample* data, int dataLen) {
        if (written >= room)
            return;
        vx_frame& f = out[written++];
        f.lie_level = lieLevel;
        const int bands = static_cast<int>(sizeof f.spectrum / sizeof f.spectrum[0]);
        for (int i = 0; i < bands; ++i)
            f.spectrum[i] = i < dataLen ? data[i] : 0.0f;
    }

    VeraxoEngine engine;
    float lieLevel;
    std::size_t pending;
    vx_frame* out;
    std::size_t written;
    std::size_t room;
    // Set when an allocation failed halfway through a push: the stream's state is then unknown.
    bool broken;
};

namespace {

void writeError(char* err, std::size_t errSize, const std::string& line) {
    if (!err || errSize == 0)
        return;
    std::size_t n = line.size() < errSize - 1 ? line.size() : errSize - 1;
    for (std::size_t i = 0; i < n; ++i)
        err[i] = line[i] == '\n' || line[i] == '\r' ? ' ' : line[i];
    err[n] = '\0';
}

// A growing block of frames in malloc'd memory, handed to the caller as it stands.
class FrameStore {
public:
    FrameStore() : _frames(0), _count(0), _capacity(0) {}
    ~FrameStore() { std::free(_frames); }
    FrameStore(const FrameStore&) = delete;
    FrameStore& operator=(const FrameStore&) = delete;

    // Room for more frames at the end; null when memory runs out.
    vx_frame* reserve(std::size_t more) {
        if (_capacity - _count < more) {
            std::size_t capacity = _capacity ? _capacity : 256;
            while (capacity - _count < more) {
                if (capacity > SIZE_MAX / 2 / sizeof(vx_frame))
                    return 0;
                capacity *= 2;
            }
            vx_frame* grown = static_cast<vx_frame*>(std::realloc(_frames, capacity * sizeof(vx_frame)));
            if (!grown)
                return 0;
            _frames = grown;
            _capacity = capacity;
        }
        return _frames + _count;
    }
    void commit(std::size_t n) { _count += n; }

    std::size_t count() const { return _count; }
    vx_frame* release() {
        vx_frame* frames = _count ? _frames : 0;
        if (!_count)
            std::free(_frames);
        _frames = 0;
        _count = _capacity = 0;
        return frames;
    }

private:
    vx_frame* _frames;
    std::size_t _count;
    std::size_t _capacity;
};

// The failure reason, or empty on success.
std::string analyze(const char* path, FrameStore& store) {
    AudioFileReader reader;
    if (!reader.open(path))
        return reader.errorText();
    vx_engine engine;
    short block[CHUNK];
    for (;;) {
        const int n = reader.read(block, static_cast<int>(CHUNK));
        if (n < 0)
            return reader.errorText();
        if (n == 0)
            return std::string();
        const std::size_t count = static_cast<std::size_t>(n);
        const std::size_t frames = engine.framesFor(count);
        // A piece that completes no frame needs no room (and a store that holds none has none).
        vx_frame* room = frames ? store.reserve(frames) : 0;
        if (frames && !room)
            return "out of memory";
        store.commit(engine.feed(block, count, room, frames));
    }
}

} // namespace

VX_EXPORT const char* vx_version(void) {
    return VERAXO_VERSION;
}

VX_EXPORT vx_engine* vx_engine_new(void) {
    try {
        return new vx_engine;
    } catch (...) {
        return 0;
    }
}

VX_EXPORT void vx_engine_free(vx_engine* engine) {
    delete engine;
}

VX_EXPORT long vx_engine_push(vx_engine* engine, const int16_t* samples, size_t count, vx_frame* frames,
                              size_t max_frames) {
    if (!engine || (!samples && count > 0) || (!frames && max_frames > 0) || engine->broken)
        return -1;
    const std::size_t needed = engine->framesFor(count);
    if (needed > max_frames || needed > static_cast<std::size_t>(LONG_MAX))
        return -1;
    try {
        return static_cast<long>(engine->feed(samples, count, frames, needed));
    } catch (...) {
        engine->broken = true;
        return -1;
    }
}

VX_EXPORT int vx_analyze_file(const char* path, vx_frame** frames, size_t* count, char* err,
                              size_t err_size) {
    if (frames)
        *frames = 0;
    if (count)
        *count = 0;
    try {
        if (!path) {
            writeError(err, err_size, "no file named");
            return 1;
        }
        if (!frames || !count) {
            writeError(err, err_size, std::string(path) + ": nowhere to put the frames");
            return 1;
        }
        FrameStore store;
        const std::string reason = analyze(path, store);
        if (!reason.empty()) {
            writeError(err, err_size, std::string(path) + ": " + reason);
            return 1;
        }
        *count = store.count();
        *frames = store.release();
        writeError(err, err_size, std::string());
        return 0;
    } catch (...) {
        writeError(err, err_size, "out of memory");
        return 1;
    }
}

VX_EXPORT void vx_frames_free(vx_frame* frames) {
    std::free(frames);
}
