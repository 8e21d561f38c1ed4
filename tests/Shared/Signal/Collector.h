#pragma once
// A filter that records every block it receives, for inspecting what a filter under test passes on.

#include <vector>

#include "Shared/Signal/Filter/Base.h"

namespace veraxo_test {

class Collector : public Signal::Filter::Base {
public:
    void filter(const Signal::Sample* data, int dataLen) override {
        blocks.emplace_back(data, data + (dataLen > 0 ? dataLen : 0));
        lengths.push_back(dataLen);
    }

    std::vector<std::vector<float>> blocks;
    std::vector<int> lengths;
};

} // namespace veraxo_test
