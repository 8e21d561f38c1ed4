#pragma once
// Ends a branch of the network: every block it receives goes to one bound callback and nowhere else,
// even if outputs were added to it.

#include "Base.h"
#include "src/compiler_gcc346/brel_callback_template.h"

namespace Signal {
namespace Filter {

class Terminator : public Base {
public:
    explicit Terminator(brel::callback2<void, const Sample*, int> callback);
    ~Terminator() override;

    // Audio thread: hands the block to the callback.
    void filter(const Sample* data, int dataLen) override;

private:
    brel::callback2<void, const Sample*, int> _callback;
};

} // namespace Filter
} // namespace Signal
