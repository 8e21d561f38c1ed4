#pragma once
// assoc_array<K, V, Less>: a map kept sorted by key and searched by binary search.
//
// Each entry is a heap-allocated pair owned by an auto_ptr_array, so an entry never moves in memory:
// a reference to a value stays valid until its entry is removed, and insertion only shifts pointers.
// Lookups are member templates on the key argument's type, so a map can be searched with any type that
// Less compares with K, without building a K. Lookups allocate nothing; inserting is O(n) pointer moves.

#include <new>

#include "brel_array.h"
#include "brel_memory.h"

namespace brel {

template <class A, class B> struct pair {
    pair(const A& a, const B& b) : first(a), second(b) {}
    template <class A2> pair(const A2& a, const B& b) : first(a), second(b) {}

    A first;
    B second;
};

template <class K, class V, class Less> class assoc_array {
public:
    using pair_type = pair<const K, V>;

    assoc_array() = default;
    assoc_array(const assoc_array&) = delete;
    assoc_array& operator=(const assoc_array&) = delete;

    int size() const { return _pairs.size(); }

    // The entry at sorted position i; a bad index is reported and gives null.
    const pair_type* pair_at(int i) const { return _pairs[i]; }

    // The index of the first pair whose key is not less than `key`; size() when all are less.
    template <class K2> int lower_bound(const K2& key) const {
        int lo = 0;
        int len = _pairs.size();
        while (len > 0) {
            const int half = len / 2;
            const int mid = lo + half;
            if (Less()(_pairs[mid]->first, key)) {
                lo = mid + 1;
                len = len - half - 1;
            } else {
                len = half;
            }
        }
        return lo;
    }

    template <class K1, class K2> bool equal(const K1& a, const K2& b) const {
        return !Less()(a, b) && !Less()(b, a);
    }

    // The value under `key`, inserted with a default value first when absent.
    template <class K2> V& operator[](const K2& key) {
        const int i = lower_bound(key);
        if (i != _pairs.size() && equal(_pairs[i]->first, key))
            return _pairs[i]->second;
        {
            const V fresh = V();
            _pairs.insert(i, auto_ptr<pair_type>(make_pair(key, fresh)));
        }
        return _pairs[i]->second;
    }

    template <class K2> void set(const K2& key, const V& value) {
        const int i = lower_bound(key);
        if (i < _pairs.size() && equal(_pairs[i]->first, key))
            _pairs[i]->second = value;
        else
            _pairs.insert(i, auto_ptr<pair_type>(make_pair(key, value)));
    }

private:
    // Pairs come from the nothrow new so that a failure throws xout_of_memory like the rest of the
    // library; a throwing copy of the key or value frees the pair before passing on.
    template <class K2> static pair_type* make_pair(const K2& key, const V& value) {
        return out_of_memory_if_null(new (std::nothrow) pair_type(key, value));
    }

    auto_ptr_array<pair_type> _pairs;
};

} // namespace brel
