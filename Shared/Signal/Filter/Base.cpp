// Output list and fan-out shared by every filter. The count is read once per block, so outputs added
// while a block is being dispatched only see the next block.

#include "Base.h"

namespace Signal {
namespace Filter {

Base::Base() {}

Base::~Base() {}

Base* Base::getOutput(int i) const {
    if (i >= getOutputCount())
        return 0;
    // The array's own check reports a negative index; nothing is read through it.
    Base* const& entry = _outputs[i];
    return i < 0 ? 0 : entry;
}

void Base::addOutput(Base* f) {
    _outputs.push_back(f);
}

int Base::removeOutput(Base* f) {
    int removed = 0;
    int i = 0;
    while (i < _outputs.size()) {
        if (_outputs[i] == f) {
            _outputs.erase(i);
            ++removed;
        } else {
            ++i;
        }
    }
    return removed;
}

int Base::getOutputCount() const {
    return _outputs.size();
}

void Base::output(const Sample* data, int dataLen) {
    const int n = getOutputCount();
    for (int i = 0; i < n; ++i) {
        // An output removed by a downstream callback during this block leaves a gap: skip it.
        if (Base* f = getOutput(i))
            f->filter(data, dataLen);
    }
}

} // namespace Filter
} // namespace Signal
