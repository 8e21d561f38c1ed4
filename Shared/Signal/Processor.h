#pragma once
// An owning, ordered chain of filters: each appended filter becomes an output of the previous one.
// Outputs added to a filter before its successor is appended stay ahead of the chain link. Filters are
// deleted from the back of the chain to the front; links into other chains are neither followed nor
// deleted.

#include "Shared/Signal/Filter/Base.h"
#include "src/brel_array.h"
#include "src/brel_memory.h"

namespace Signal {

class Processor {
public:
    Processor();
    virtual ~Processor();

    Processor(const Processor&) = delete;
    Processor& operator=(const Processor&) = delete;

    // Links and takes ownership; always true.
    bool appendFilter(brel::auto_ptr<Filter::Base> filter);
    Filter::Base* getFrontFilter() const;
    Filter::Base* getBackFilter() const;

private:
    brel::auto_ptr_array<Filter::Base> _filters;
};

} // namespace Signal
