#pragma once
// The abstract filter of the push network: a filter computes its result into storage it owns and hands
// it, synchronously and depth-first, to every filter registered as one of its outputs. Outputs are not
// owned; the same filter may be registered several times and on several filters.

#include "Shared/Signal/Sample.h"
#include "src/brel_array.h"

namespace Signal {
namespace Filter {

class Base {
public:
    Base();
    virtual ~Base();

    Base(const Base&) = delete;
    Base& operator=(const Base&) = delete;

    // Null for an index at or past the count; a negative index is reported and gives null.
    virtual Base* getOutput(int i) const;
    virtual void addOutput(Base* f);
    // Removes every entry equal to f and returns how many went.
    virtual int removeOutput(Base* f);
    virtual int getOutputCount() const;
    // Fan-out: each output in turn, everything downstream of it finishing before the next one.
    virtual void output(const Sample* data, int dataLen);
    // Audio thread: computes this filter's result for one block and hands it on. Allocates only while
    // the blocks grow to their steady length, and may then throw brel::xout_of_memory through every
    // filter upstream (the C interface turns it into an error), so filters are not noexcept.
    virtual void filter(const Sample* data, int dataLen) = 0;

private:
    brel::array<Base*> _outputs;
};

} // namespace Filter
} // namespace Signal
