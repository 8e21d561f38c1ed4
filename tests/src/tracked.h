#pragma once
// Element types for the container tests: Tracked counts its live objects and can be told to throw from
// a later copy; Noted records its id when it is destroyed.

#include <stdexcept>
#include <vector>

namespace brel_test {

struct Tracked {
    static inline int live = 0;
    // Copies still allowed before one throws; negative means never throw.
    static inline int copies_before_throw = -1;

    Tracked(int v = 0) : value(v) { ++live; }
    Tracked(const Tracked& other) : value(other.value) {
        if (copies_before_throw == 0)
            throw std::runtime_error("copy refused");
        if (copies_before_throw > 0)
            --copies_before_throw;
        ++live;
    }
    Tracked& operator=(const Tracked&) = default;
    ~Tracked() { --live; }

    int value;
};

struct Noted {
    static inline std::vector<int> destroyed;

    explicit Noted(int i) : id(i) {}
    virtual ~Noted() { destroyed.push_back(id); }

    int id;
};

} // namespace brel_test
