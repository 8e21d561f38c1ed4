#pragma once
// Growable contiguous arrays: array<T> holds values, ptr_array<T> holds pointers it does not own and
// auto_ptr_array<T> owns the objects its pointers designate.
//
// Storage grows to the larger of the request and one and a half times the old capacity and never
// shrinks, so repeated push_back is amortised constant time and a buffer resized to a steady length
// stops allocating. Growth copies into new storage before the old one is released: if an element copy
// or the allocation throws, the array keeps its old storage, size and capacity. Accesses that fail
// their check are reported and then skipped: reads and writes go to a value-initialised stand-in.

#include <climits>
#include <functional>
#include <new>

#include "brel_memory.h"

namespace brel {

namespace detail {

// The capacity reserve(n) grows to from `capacity`: the larger of n and capacity * 3 / 2.
inline int grown_capacity(int capacity, int n) {
    long long g = static_cast<long long>(capacity) * 3 / 2;
    if (g > INT_MAX)
        g = INT_MAX;
    return n >= g ? n : static_cast<int>(g);
}

} // namespace detail

template <class T> class array {
public:
    array() : _size(0), _capacity(0), _data(0) {}

    array(const array& other) : _size(0), _capacity(0), _data(0) {
        if (other._size == 0)
            return;
        array copy;
        for (int i = 0; i < other._size; ++i)
            copy.push_back(other._data[i]);
        swap(copy);
    }

    array(array&& other) noexcept : _size(other._size), _capacity(other._capacity), _data(other._data) {
        other._size = 0;
        other._capacity = 0;
        other._data = 0;
    }

    array& operator=(const array& other) {
        if (this != &other) {
            array copy(other);
            swap(copy);
        }
        return *this;
    }

    array& operator=(array&& other) noexcept {
        array taken(static_cast<array&&>(other));
        swap(taken);
        return *this;
    }

    ~array() {
        destroy(0, _size);
        _size = 0;
        deallocate(_data);
    }

    int size() const { return _size; }
    int capacity() const { return _capacity; }

    void reserve(int n) {
        if (_capacity >= n)
            return;
        regrow(detail::grown_capacity(_capacity, n), nullptr);
    }

    // A negative n counts as 0.
    void resize(int n, const T& value) {
        if (n < 0)
            n = 0;
        if (n < _size) {
            destroy(n, _size);
            _size = n;
            return;
        }
        if (n > _capacity && holds(value)) {
            const T copy(value);
            resize(n, copy);
            return;
        }
        reserve(n);
        int i = _size;
        try {
            for (; i < n; ++i)
                construct(_data + i, value);
        } catch (...) {
            destroy(_size, i);
            throw;
        }
        _size = n;
    }

    void push_back(const T& value) {
        if (_size < _capacity)
            construct(_data + _size, value);
        else
            regrow(detail::grown_capacity(_capacity, _size + 1), &value);
        ++_size;
    }

    void erase(int i) {
        if (!mac::check(0 <= i && i < _size, "0 <= i && i < _size", "src/brel_array", 327))
            return;
        for (int j = i + 1; j < _size; ++j)
            _data[j - 1] = _data[j];
        --_size;
        _data[_size].~T();
    }

    // Destroys the elements; the storage stays.
    void clear() {
        destroy(0, _size);
        _size = 0;
    }

    const T& operator[](int i) const {
        if (!mac::check(0 <= i && i < _size, "0 <= i && i < _size", "src/brel_array", 491))
            return placeholder<T>();
        return _data[i];
    }

    T& operator[](int i) {
        if (!mac::check(0 <= i && i < _size, "0 <= i && i < _size", "src/brel_array", 497))
            return placeholder<T>();
        return _data[i];
    }

    // The start of the contiguous elements, for passing a whole array as pointer and length. An empty
    // array is reported and gives its storage start, which may be null.
    T* data() {
        mac::check(_size > 0, "0 <= i && i < _size", "src/brel_array", 509);
        return _data;
    }
    const T* data() const {
        mac::check(_size > 0, "0 <= i && i < _size", "src/brel_array", 509);
        return _data;
    }

    void swap(array& other) noexcept {
        brel::swap(_size, other._size);
        brel::swap(_capacity, other._capacity);
        brel::swap(_data, other._data);
    }

private:
    bool holds(const T& value) const {
        std::less<const T*> before;
        return !before(&value, _data) && before(&value, _data + _size);
    }

    void destroy(int from, int to) {
        for (int i = from; i < to; ++i)
            _data[i].~T();
    }

    // Moves to storage of `capacity` slots by copying. `extra`, when given, is copied into slot _size of
    // the new storage before the old elements are destroyed, so it may refer to one of them.
    void regrow(int capacity, const T* extra) {
        T* fresh = static_cast<T*>(allocate(static_cast<unsigned long>(capacity) * sizeof(T)));
        out_of_memory_if(fresh == 0);
        int made = 0;
        try {
            for (; made < _size; ++made)
                construct(fresh + made, _data[made]);
            if (extra)
                construct(fresh + _size, *extra);
        } catch (...) {
            while (made > 0)
                fresh[--made].~T();
            deallocate(fresh);
            throw;
        }
        destroy(0, _size);
        deallocate(_data);
        _data = fresh;
        _capacity = capacity;
    }

    int _size;
    int _capacity;
    T* _data;
};

template <class T> class ptr_array {
public:
    ptr_array() : _size(0), _capacity(0), _data(0) {}
    ptr_array(const ptr_array&) = delete;
    ptr_array& operator=(const ptr_array&) = delete;
    ~ptr_array() { delete[] _data; }

    int size() const { return _size; }
    int capacity() const { return _capacity; }

    // The pointer buffer comes from array new; its failure throws xout_of_memory like every other
    // allocation of the library.
    void reserve(int n) {
        if (_capacity >= n)
            return;
        const int capacity = detail::grown_capacity(_capacity, n);
        T** fresh = new (std::nothrow) T*[capacity];
        out_of_memory_if(fresh == 0);
        for (int i = 0; i < _size; ++i)
            fresh[i] = _data[i];
        delete[] _data;
        _data = fresh;
        _capacity = capacity;
    }

    void push_back(T* p) {
        reserve(_size + 1);
        _data[_size] = p;
        ++_size;
    }

    // A bad index is reported and nothing is inserted.
    void insert(int i, T* p) {
        if (!mac::check(0 <= i && i <= _size, "0 <= i && i <= _size", "src/brel_array", 854))
            return;
        reserve(_size + 1);
        for (int j = _size; j > i; --j)
            _data[j] = _data[j - 1];
        _data[i] = p;
        ++_size;
    }

    void pop_back() {
        if (mac::check(_size > 0, "_size > 0", "src/brel_array", 928))
            --_size;
    }

    // Forgets every pointer; the buffer stays.
    void clear() { _size = 0; }

    T* const& front() const {
        if (!mac::check(_size > 0, "_size > 0", "src/brel_array", 934))
            return placeholder<T*>();
        return _data[0];
    }

    T* const& back() const {
        if (!mac::check(_size > 0, "_size > 0", "src/brel_array", 946))
            return placeholder<T*>();
        return _data[_size - 1];
    }

    T*& back() {
        if (!mac::check(_size > 0, "_size > 0", "src/brel_array", 952))
            return placeholder<T*>();
        return _data[_size - 1];
    }

    T* const& operator[](int i) const {
        if (!mac::check(0 <= i && i < _size, "0 <= i && i < _size", "src/brel_array", 978))
            return placeholder<T*>();
        return _data[i];
    }

    T*& operator[](int i) {
        if (!mac::check(0 <= i && i < _size, "0 <= i && i < _size", "src/brel_array", 984))
            return placeholder<T*>();
        return _data[i];
    }

private:
    int _size;
    int _capacity;
    T** _data;
};

template <class T> class auto_ptr_array {
public:
    auto_ptr_array() = default;
    auto_ptr_array(const auto_ptr_array&) = delete;
    auto_ptr_array& operator=(const auto_ptr_array&) = delete;
    ~auto_ptr_array() { clear(); }

    int size() const { return _arr.size(); }
    int capacity() const { return _arr.capacity(); }
    void reserve(int n) { _arr.reserve(n); }

    // Ownership moves only once the pointer is stored: if growing throws, `p` still deletes the object.
    void push_back(auto_ptr<T> p) {
        _arr.push_back(p.get());
        p.release();
    }

    void insert(int i, auto_ptr<T> p) {
        const bool ok =
            mac::check(0 <= i && i <= _arr.size(), "0 <= i && i <= _arr.size()", "src/brel_array", 1229);
        _arr.insert(i, p.get());
        if (ok)
            p.release();
    }

    // The caller receives the last element; an empty array gives an empty pointer.
    auto_ptr<T> pop_back() {
        mac::check(_arr.size() > 0, "_arr.size() > 0", "src/brel_array", 1297);
        auto_ptr<T> last(_arr.back());
        _arr.pop_back();
        return last;
    }

    T* front() const {
        mac::check(_arr.size() > 0, "_arr.size() > 0", "src/brel_array", 1305);
        return _arr.front();
    }

    T* back() const {
        mac::check(_arr.size() > 0, "_arr.size() > 0", "src/brel_array", 1317);
        return _arr.back();
    }

    T* back() {
        mac::check(_arr.size() > 0, "_arr.size() > 0", "src/brel_array", 1323);
        return _arr.back();
    }

    T* operator[](int i) const {
        mac::check(0 <= i && i < _arr.size(), "0 <= i && i < _arr.size()", "src/brel_array", 1349);
        return _arr[i];
    }

    T* operator[](int i) {
        mac::check(0 <= i && i < _arr.size(), "0 <= i && i < _arr.size()", "src/brel_array", 1355);
        return _arr[i];
    }

    // Deletes the elements from the last to the first; the pointer buffer and its capacity stay.
    void clear() {
        for (int i = _arr.size() - 1; i >= 0; --i)
            delete _arr[i];
        _arr.clear();
    }

private:
    ptr_array<T> _arr;
};

} // namespace brel
