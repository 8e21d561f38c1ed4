#pragma once
// string2: the library's byte string, and string2data_sso_rc, its storage.
//
// Up to 16 characters live inside the object and need no heap memory. Longer strings live in a heap
// block that copies share until one of them changes (copy on write); the sharers are linked in a ring
// through their own addresses instead of counting references, so the last owner sees itself alone in
// the ring and frees the block. Copying a shared string therefore costs three pointer updates, but
// copies of one string must stay on one thread. Byte 0 of a block flags whether copies may share it;
// the characters are always followed by a zero byte.

#include <climits>

#include "brel_memory.h"

namespace brel {

class string2data_sso_rc {
public:
    static constexpr int SmallCapacity = 16;
    static constexpr int npos = INT_MAX;

    string2data_sso_rc();
    // A copy of up to `n` characters of `src` from `pos`, both clamped into `src`. A whole copy of a
    // shareable large string joins its ring.
    string2data_sso_rc(const string2data_sso_rc& src, int pos = 0, int n = npos);
    string2data_sso_rc& operator=(const string2data_sso_rc& src);
    ~string2data_sso_rc();

    int size() const { return _len; }
    int capacity() const { return _cap; }
    bool is_large() const { return _cap > SmallCapacity; }
    char* buf() { return is_large() ? _ring._block + 1 : _inline; }
    const char* buf() const { return is_large() ? _ring._block + 1 : _inline; }

    bool is_shareable() const;
    void set_shareable(bool on);
    bool is_last() const;
    int new_capacity(int n) const;

    void ensure_unique();
    void ensure_unique(int cap, int len);
    void reserve(int n);
    void resize(int n, char c);
    // Overwrites characters [pos, pos + n); a range outside the characters is reported and nothing is
    // written.
    void set(int pos, const char* s, int n);
    void assign(const string2data_sso_rc& src, int pos, int n);

    void swap(string2data_sso_rc& other);
    static void swap_ss(string2data_sso_rc& a, string2data_sso_rc& b);
    static void swap_ls(string2data_sso_rc& large, string2data_sso_rc& small);
    static void swap_ll(string2data_sso_rc& a, string2data_sso_rc& b);

private:
    struct ring {
        char* _block;
        string2data_sso_rc* _prev;
        string2data_sso_rc* _next;
    };

    static char* new_block(int cap);
    void leave_ring();
    // Takes `from`'s place in its ring (or a ring of its own when `from` is alone) and its block.
    void take_place(string2data_sso_rc& from, string2data_sso_rc* prev, string2data_sso_rc* next);

    int _cap;
    int _len;
    union {
        char _inline[SmallCapacity + 1];
        ring _ring;
    };
};

class string2 {
public:
    static constexpr int npos = string2data_sso_rc::npos;

    string2() = default;
    explicit string2(const char* s);
    string2(const string2& src, int pos, int n = npos) : _data(src._data, pos, n) {}
    string2(const string2& src) = default;
    string2& operator=(const string2& src);

    int size() const { return _data.size(); }
    int capacity() const { return _data.capacity(); }
    const char* c_str() const { return _data.buf(); }
    const string2data_sso_rc& storage() const { return _data; }

    string2& resize(int n, char c);
    string2& resize(int n);
    string2& append(const char* s, int n);
    string2& set(int pos, const char* s, int n);
    void swap(string2& other) { _data.swap(other._data); }

private:
    string2data_sso_rc _data;
};

bool operator==(const string2& a, const string2& b);

} // namespace brel
