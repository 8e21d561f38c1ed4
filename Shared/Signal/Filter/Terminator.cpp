// The callback's own check reports an unbound callback and then skips the call.

#include "Terminator.h"

namespace Signal {
namespace Filter {

Terminator::Terminator(brel::callback2<void, const Sample*, int> callback) : _callback(callback) {}

Terminator::~Terminator() {}

void Terminator::filter(const Sample* data, int dataLen) {
    _callback(data, dataLen);
}

} // namespace Filter
} // namespace Signal
