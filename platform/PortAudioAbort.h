#pragma once
// Stopping a PortAudio stream without hanging the caller. A stream whose device thread does not stop
// (a driver or sound server that has gone away) would block Pa_AbortStream for good: the abort runs on
// a thread of its own, and a stream that has not stopped within 1.5 s is given up rather than waited for.

#include <functional>

typedef void PaStream;

namespace platform {

// Aborts `stream`, and closes it when `close` is set; true once the abort has returned. Past the time
// limit `cut` runs, which keeps the stream's callbacks from reaching their owner (waiting for one in
// progress). If the abort has returned meanwhile, the result is still true and undoing the cut is the
// caller's; if not, the stream is given up and false returned: the thread closes it when the abort
// finally returns and then runs `release`, which frees what the callbacks were given.
bool abortOrAbandon(PaStream* stream, bool close, std::function<void()> cut, std::function<void()> release);

} // namespace platform
