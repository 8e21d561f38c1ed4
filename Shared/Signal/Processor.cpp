// If taking ownership runs out of memory, the new filter is deleted; its link from the previous
// filter is removed first so no dangling output is left behind.

#include "Processor.h"

namespace Signal {

Processor::Processor() {}

Processor::~Processor() {}

bool Processor::appendFilter(brel::auto_ptr<Filter::Base> filter) {
    Filter::Base* added = filter.get();
    Filter::Base* previous = getBackFilter();
    if (previous)
        previous->addOutput(added);
    try {
        _filters.push_back(filter);
    } catch (...) {
        if (previous)
            previous->removeOutput(added);
        throw;
    }
    return true;
}

Filter::Base* Processor::getFrontFilter() const {
    return _filters.size() > 0 ? _filters.front() : 0;
}

Filter::Base* Processor::getBackFilter() const {
    return _filters.size() > 0 ? _filters.back() : 0;
}

} // namespace Signal
