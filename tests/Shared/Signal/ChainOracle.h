#pragma once
// A second, plain transcription of the whole analysis chain, kept apart from the production filters:
// 16-bit samples → float → framed, windowed FFT → 32 mel bands → voice detector → lie scoring, and the
// same bands → ln(1 + v). Every step is a scalar loop in the order and precision the chain is written
// in, on std containers, so that a test can compare the engine with it bit for bit on whole recordings.
// Only Signal::Sample is shared with the production code; nothing here is tuned for speed.

#include <cmath>
#include <deque>
#include <utility>
#include <vector>

#include "Shared/Signal/Sample.h"

namespace oracle {

class ChainOracle {
public:
    static const int FRAME = 256;
    static const int HOP = FRAME / 2;
    static const int BANDS = 32;

    ChainOracle()
        : _window(hann(FRAME)), _frame(FRAME, 0.0f), _nextFrame(FRAME, 0.0f), _previousRaw(HOP, 0.0f),
          _pos(0), _detectWindow(hann(BANDS / 2)), _detectWindowSum(0.0f), _voiceLevel(0.0f),
          _smoothedLevel(0.0f) {
        makeTwiddles();
        makeBands(8000, HOP, 200.0f, 3400.0f);
        for (float w : _detectWindow)
            _detectWindowSum += w;
    }

    // Appends one lie level and one 32-value spectrum per completed hop.
    void push(const short* samples, int count) {
        for (int i = 0; i < count; ++i) {
            const Signal::Sample x = static_cast<float>(samples[i]) / 32767.0f;
            _frame[HOP + _pos] = x;
            _nextFrame[_pos] = x;
            if (++_pos == HOP) {
                processFrame();
                std::swap(_frame, _nextFrame);
                _pos = 0;
            }
        }
    }

    std::vector<float> lies;
    std::vector<float> spectra;
    // Frames on which the voice level rose, so that a test can tell its signal reaches that branch.
    int voiceRises = 0;

private:
    static std::vector<float> hann(int n) {
        std::vector<float> w(n);
        for (int i = 0; i < n; ++i) {
            const float angle = static_cast<float>(i * 6.283185307179586 / (n - 1));
            w[i] = static_cast<float>(0.5 * (1.0 - std::cos(static_cast<double>(angle))));
        }
        return w;
    }

    static float mel(float hz) { return static_cast<float>(1127.01048 * std::log(1.0 + hz / 700.0)); }
    static float melInv(float m) { return static_cast<float>(700.0 * (std::exp(m / 1127.01048) - 1.0)); }

    void makeTwiddles() {
        _sin.assign(8 * FRAME, 0.0f);
        _cos.assign(8 * FRAME, 0.0f);
        for (int s = 0; s < 8; ++s) {
            const int span = 2 << s;
            const float step = static_cast<float>(-6.283185307179586 / span);
            float angle = 0.0f;
            for (int j = 0; j < FRAME; ++j) {
                _sin[s * FRAME + j] = sinf(angle);
                _cos[s * FRAME + j] = cosf(angle);
                angle += step;
            }
        }
    }

    struct Band {
        int start = -1;
        int length = -1;
        std::vector<float> weights;
    };

    void makeBands(int sampleRate, int spectrumLen, float lowFreq, float highFreq) {
        const float mLow = mel(lowFreq);
        const float mHigh = mel(highFreq);
        const float width = (mHigh - mLow) * 0.03125f;
        const float df = static_cast<float>(static_cast<double>(static_cast<float>(sampleRate)) /
                                            (spectrumLen + spectrumLen));
        for (int i = 0; i < BANDS; ++i) {
            const float centre = mLow + width * static_cast<float>(i);
            const float fC = melInv(centre);
            const float fL = melInv(centre + width * -0.5f);
            const float fH = melInv(centre + width * 0.5f);
            Band band;
            for (int k = 0; k < spectrumLen; ++k) {
                const float f = df * static_cast<float>(k);
                if (band.start == -1 && fL <= f)
                    band.start = k;
                if (band.start != -1 && fH < f) {
                    band.length = k - band.start;
                    break;
                }
            }
            const float up = 1.0f / (fC - fL);
            const float down = 1.0f / (fC - fH);
            float sum = 0.0f;
            for (int j = 0; j < band.length; ++j) {
                const float f = df * static_cast<float>(j);
                const float w = fC > f ? up * (fC - f) : 1.0f - down * (f - fC);
                band.weights.push_back(w);
                sum += w;
            }
            for (float& w : band.weights)
                w = w / sum;
            _bands.push_back(band);
        }
    }

    void processFrame() {
        // Transform: windowed frame, bit reversal, radix-2 butterflies, absolute real parts.
        std::vector<float>& re = _re;
        std::vector<float>& im = _im;
        for (int i = 0; i < FRAME; ++i) {
            re[i] = _frame[i] * _window[i];
            im[i] = 0.0f;
        }
        for (int i = 1, j = 0; i < FRAME - 1; ++i) {
            int k = FRAME / 2;
            while (k <= j) {
                j -= k;
                k /= 2;
            }
            j += k;
            if (i < j)
                std::swap(re[i], re[j]);
        }
        for (int s = 0, half = 1; s < 8; ++s, half *= 2) {
            const int span = 2 * half;
            for (int j = 0; j < half; ++j) {
                const float wr = _cos[s * FRAME + j];
                const float wi = _sin[s * FRAME + j];
                for (int k = j; k < FRAME; k += span) {
                    const int l = k + half;
                    const float tr = wr * re[l] - wi * im[l];
                    const float ti = wi * re[l] + wr * im[l];
                    re[l] = re[k] - tr;
                    im[l] = im[k] - ti;
                    re[k] = tr + re[k];
                    im[k] = ti + im[k];
                }
            }
        }
        std::vector<float>& spectrum = _spectrum;
        for (int i = 0; i < HOP; ++i) {
            const float raw = std::fabs(re[i]);
            spectrum[i] = (raw + _previousRaw[i]) * 0.5f;
            _previousRaw[i] = raw;
        }

        std::vector<float>& bands = _bandValues;
        for (int b = 0; b < BANDS; ++b) {
            float v = 0.0f;
            for (int j = 0; j < _bands[b].length; ++j)
                v += spectrum[_bands[b].start + j] * _bands[b].weights[j];
            bands[b] = v;
        }

        lies.push_back(score(detect(bands)));
        for (int b = 0; b < BANDS; ++b)
            spectra.push_back(static_cast<float>(std::log(static_cast<double>(bands[b]) + 1.0)));
    }

    struct Detection {
        float voiceLevel, transitions, e0, e1, e2;
    };

    Detection detect(const std::vector<float>& bands) {
        float e[3];
        for (int g = 0; g < 3; ++g) {
            float sum = 0.0f;
            for (int j = 0; j < BANDS / 2; ++j)
                sum += bands[j + g * (BANDS / 4)] * _detectWindow[j];
            e[g] = sum / _detectWindowSum;
        }
        const float power = (e[0] + e[1]) + e[2];
        _powers.push_front(power);
        if (_powers.size() > 64)
            _powers.pop_back();
        float total = 0.0f;
        for (float p : _powers)
            total += p;
        const float average = total / static_cast<float>(_powers.size());
        const bool silent = average > power + power;
        _silent.push_front(silent);
        if (_silent.size() > 64)
            _silent.pop_back();
        int transitions = 0;
        for (std::size_t i = 0; i + 1 < _silent.size(); ++i)
            transitions += _silent[i] != _silent[i + 1] ? 1 : 0;

        const double d0 = e[0], d1 = e[1], d2 = e[2];
        if (!silent && d0 > 2.5 * d1 && d2 > 1.2 * d1 && e[0] > e[2] &&
            transitions > static_cast<int>(_silent.size()) / 10) {
            ++voiceRises;
            _voiceLevel = static_cast<float>(static_cast<double>(_voiceLevel) + 0.35);
        }
        if (_voiceLevel > 2.0)
            _voiceLevel = 2.0f;
        _voiceLevel = static_cast<float>(_voiceLevel * 0.89);
        return Detection{_voiceLevel, static_cast<float>(transitions), e[0], e[1], e[2]};
    }

    float score(const Detection& d) {
        float s = (d.e0 + d.e2) * 0.5f;
        if (d.transitions > 5.0f)
            s = static_cast<float>(s + (static_cast<double>(d.transitions - 5.0f) * 0.45) * s);
        if (s < 0.0f)
            s = 0.0f;
        if (static_cast<double>(s) > 0.3)
            s = static_cast<float>(static_cast<double>(d.e1 / -10.0f) + 0.3);
        const float u = static_cast<float>(s + d.voiceLevel * 0.35);
        _smoothedLevel = static_cast<float>(_smoothedLevel * 0.3 + u * 0.7);
        return _smoothedLevel > 1.0f ? d.transitions / -50.0f + 1.0f : _smoothedLevel;
    }

    std::vector<float> _window;
    std::vector<float> _sin, _cos;
    std::vector<float> _frame, _nextFrame, _previousRaw;
    // Work areas of one frame.
    std::vector<float> _re = std::vector<float>(FRAME), _im = std::vector<float>(FRAME);
    std::vector<float> _spectrum = std::vector<float>(HOP), _bandValues = std::vector<float>(BANDS);
    int _pos;
    std::vector<Band> _bands;
    std::vector<float> _detectWindow;
    float _detectWindowSum;
    float _voiceLevel;
    std::deque<float> _powers;
    std::deque<bool> _silent;
    float _smoothedLevel;
};

} // namespace oracle
