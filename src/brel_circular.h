#pragma once
// circular_buffer<T>: a ring of fixed capacity that grows at either end and, once full, overwrites the
// element at the opposite end.
//
// The slots are allocated once by the constructor, so pushing, reading and popping never allocate and
// can run on the audio thread. Unused slots are raw memory. Reads that find no element (positions past
// the back, front() of an empty ring) return a value-initialised stand-in instead of touching a raw
// slot; a non-positive capacity makes a ring that stays empty. The first element pushed into an empty
// ring sets both ends, which keeps a ring of capacity 1 inside its single slot.

#include "brel_memory.h"

namespace brel {

template <class T> class circular_buffer {
public:
    explicit circular_buffer(int capacity)
        : _capacity(capacity > 0 ? capacity : 0), _items(0), _first(1), _last(0), _count(0) {
        if (_capacity > 0) {
            _items = static_cast<T*>(allocate(static_cast<unsigned long>(_capacity) * sizeof(T)));
            out_of_memory_if(_items == 0);
        }
    }

    circular_buffer(const circular_buffer&) = delete;
    circular_buffer& operator=(const circular_buffer&) = delete;

    ~circular_buffer() {
        clear();
        deallocate(_items);
    }

    int size() const { return _count; }
    int capacity() const { return _capacity; }

    void push_back(const T& value) {
        if (_capacity == 0)
            return;
        int i = _last + 1;
        if (i >= _capacity)
            i = 0;
        if (_count == _capacity) {
            _items[i] = value;
            if (++_first >= _capacity)
                _first = 0;
        } else {
            construct(_items + i, value);
            if (_count++ == 0)
                _first = i;
        }
        _last = i;
    }

    void push_front(const T& value) {
        if (_capacity == 0)
            return;
        const int i = _first == 0 ? _capacity - 1 : _first - 1;
        if (_count == _capacity) {
            _items[i] = value;
            if (--_last < 0)
                _last = _capacity - 1;
        } else {
            construct(_items + i, value);
            if (_count++ == 0)
                _last = i;
        }
        _first = i;
    }

    // Position 0 is the front. A position past the back is reported; it and the unchecked position
    // size() give the stand-in.
    const T& at(int pos) const {
        mac::check(pos <= size(), "pos<=size()", "src/brel_circular", 76);
        if (pos < 0 || pos >= _count)
            return placeholder<T>();
        return _items[(pos + _first) % _capacity];
    }

    // Calls visit with each element from the front to the back, the order of at(0) ... at(size() - 1),
    // walking the slots instead of working each position out.
    template <class F> void for_each(F visit) const {
        if (_count == 0)
            return;
        const int head = _count < _capacity - _first ? _count : _capacity - _first;
        for (int i = 0; i < head; ++i)
            visit(_items[_first + i]);
        for (int i = 0; i < _count - head; ++i)
            visit(_items[i]);
    }
    const T& front() const {
        if (_count == 0)
            return placeholder<T>();
        return _items[_first];
    }

    // Does nothing on an empty ring.
    void pop_front() {
        if (_count == 0)
            return;
        _items[_first].~T();
        --_count;
        if (++_first >= _capacity)
            _first = 0;
    }

    void clear() {
        while (_count > 0)
            pop_front();
        _first = 1;
        _last = 0;
    }

private:
    int _capacity;
    T* _items;
    int _first;
    int _last;
    int _count;
};

} // namespace brel
