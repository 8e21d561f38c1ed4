#include "Resampler.h"

#include <soxr.h>

namespace {

const double MAX_RATIO = 256.0;

} // namespace

Resampler::~Resampler() {
    release();
}

bool Resampler::supports(double inputRate, double outputRate) {
    if (!(inputRate > 0) || !(outputRate > 0))
        return false;
    const double ratio = outputRate / inputRate;
    return ratio >= 1.0 / MAX_RATIO && ratio <= MAX_RATIO;
}

bool Resampler::prepare(double inputRate, double outputRate) {
    release();
    _error.clear();
    if (!supports(inputRate, outputRate)) {
        _error = "unsupported ratio";
        return false;
    }
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, SOXR_LINEAR_PHASE);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    _state = soxr_create(inputRate, outputRate, 1, &error, &io, &quality, &runtime);
    if (!_state) {
        _error = error ? error : "out of memory";
        return false;
    }
    return true;
}

void Resampler::reset() {
    if (_state)
        soxr_clear(_state);
}

void Resampler::release() {
    if (_state)
        soxr_delete(_state);
    _state = nullptr;
}

bool Resampler::process(const float* in, std::size_t count, std::size_t& used, float* out,
                        std::size_t capacity, std::size_t& produced) {
    used = 0;
    produced = 0;
    if (!_state) {
        _error = "not prepared";
        return false;
    }
    const soxr_error_t error = soxr_process(_state, in, in ? count : 0, &used, out, capacity, &produced);
    if (error) {
        _error = error;
        return false;
    }
    return true;
}
