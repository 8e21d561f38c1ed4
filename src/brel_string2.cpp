// Small-string storage with copy on write through a ring of sharers. Every change first makes the
// string the sole user of its characters (ensure_unique), so a shared block is never written; the
// block is freed by whichever sharer finds itself alone in the ring when it is destroyed or grows.

#include "brel_string2.h"

#include <cstring>
#include <functional>
#include <new>

namespace brel {
namespace {

const char SHAREABLE = 0x20;
const char UNSHAREABLE = 0x21;

void mem_copy(char* to, const char* from, int n) {
    std::memmove(to, from, static_cast<unsigned long>(n));
}

void str_fill(char* to, char c, int n) {
    std::memset(to, c, static_cast<unsigned long>(n));
}

int clamp(int v, int lo, int hi) {
    return v < lo ? lo : (v > hi ? hi : v);
}

} // namespace

string2data_sso_rc::string2data_sso_rc() : _cap(SmallCapacity), _len(0) {
    _inline[0] = 0;
}

string2data_sso_rc::string2data_sso_rc(const string2data_sso_rc& src, int pos, int n)
    : _cap(SmallCapacity), _len(0) {
    _inline[0] = 0;
    pos = clamp(pos, 0, src._len);
    n = clamp(n, 0, src._len - pos);
    if (pos == 0 && n == src._len && src.is_large() && src.is_shareable()) {
        string2data_sso_rc& shared = const_cast<string2data_sso_rc&>(src);
        _cap = src._cap;
        _len = src._len;
        _ring._block = src._ring._block;
        _ring._prev = src._ring._prev;
        _ring._next = &shared;
        _ring._prev->_ring._next = this;
        shared._ring._prev = this;
        return;
    }
    reserve(n);
    mem_copy(buf(), src.buf() + pos, n);
    _len = n;
    buf()[n] = 0;
}

string2data_sso_rc& string2data_sso_rc::operator=(const string2data_sso_rc& src) {
    assign(src, 0, npos);
    return *this;
}

string2data_sso_rc::~string2data_sso_rc() {
    if (!is_large())
        return;
    if (is_last())
        delete[] _ring._block;
    leave_ring();
}

bool string2data_sso_rc::is_shareable() const {
    if (!mac::check(is_large(), "is_large()", "src/brel_string2", 169))
        return false;
    return _ring._block[0] == SHAREABLE;
}

void string2data_sso_rc::set_shareable(bool on) {
    if (is_large())
        _ring._block[0] = on ? SHAREABLE : UNSHAREABLE;
}

bool string2data_sso_rc::is_last() const {
    if (!mac::check(is_large(), "is_large()", "src/brel_string2", 181))
        return true;
    return _ring._next == _ring._prev && _ring._next == this;
}

int string2data_sso_rc::new_capacity(int n) const {
    long long grown = static_cast<long long>(_cap) * 3 / 2;
    const int g = grown > INT_MAX ? INT_MAX : static_cast<int>(grown);
    return maxi(g, n);
}

void string2data_sso_rc::ensure_unique() {
    ensure_unique(_cap, _len);
}

void string2data_sso_rc::ensure_unique(int cap, int len) {
    if (!is_large() || is_last())
        return;
    cap = maxi(cap, static_cast<int>(SmallCapacity));
    // The characters kept must fit the new storage, whatever length the caller asks for.
    len = clamp(mini(mini(len, cap), mini(_len, _cap)), 0, INT_MAX);
    if (cap <= SmallCapacity) {
        char chars[SmallCapacity + 1];
        mem_copy(chars, _ring._block + 1, len);
        leave_ring();
        mem_copy(_inline, chars, len);
        _inline[len] = 0;
    } else {
        char* block = new_block(cap);
        mem_copy(block + 1, _ring._block + 1, len);
        block[len + 1] = 0;
        leave_ring();
        _ring._block = block;
        _ring._prev = _ring._next = this;
    }
    _cap = cap;
    _len = len;
}

void string2data_sso_rc::reserve(int n) {
    mac::check(_cap >= SmallCapacity, "_cap >= SmallCapacity", "src/brel_string2", 116);
    set_shareable(true);
    if (_cap >= n)
        return;
    const int c = new_capacity(n);
    ensure_unique(c, _len);
    if (_cap >= c)
        return;
    mac::check(c > SmallCapacity, "cap > SmallCapacity", "src/brel_string2", 128);
    char* block = new_block(c);
    mem_copy(block + 1, buf(), _len + 1);
    if (is_large()) {
        if (is_last())
            delete[] _ring._block;
        leave_ring();
    }
    _ring._block = block;
    _ring._prev = _ring._next = this;
    _cap = c;
}

void string2data_sso_rc::resize(int n, char c) {
    if (n < 0)
        n = 0;
    set_shareable(true);
    if (n == _len)
        return;
    ensure_unique(n, mini(_len, n));
    if (_len < n) {
        reserve(n);
        str_fill(buf() + _len, c, n - _len);
    }
    if (!mac::check(_cap >= n, "_cap >= n", "src/brel_string2", 166))
        return;
    _len = n;
    buf()[n] = 0;
}

void string2data_sso_rc::set(int pos, const char* s, int n) {
    if (n == 0)
        return;
    bool ok = mac::check(pos >= 0, "pos >= 0", "src/brel_string2", 211);
    ok = mac::check(pos <= _len, "pos <= _len", "src/brel_string2", 212) && ok;
    // In 64 bits: _len - pos overflows an int for a pos near INT_MIN.
    ok = mac::check(static_cast<long long>(n) <= static_cast<long long>(_len) - pos, "n <= _len - pos",
                    "src/brel_string2", 213) &&
         ok;
    if (!ok || n < 0)
        return;
    ensure_unique();
    mem_copy(buf() + pos, s, n);
}

void string2data_sso_rc::assign(const string2data_sso_rc& src, int pos, int n) {
    string2data_sso_rc copy(src, pos, n);
    swap(copy);
}

void string2data_sso_rc::swap(string2data_sso_rc& other) {
    set_shareable(true);
    if (this == &other)
        return;
    if (!is_large() && !other.is_large())
        swap_ss(*this, other);
    else if (is_large() && !other.is_large())
        swap_ls(*this, other);
    else if (!is_large())
        swap_ls(other, *this);
    else
        swap_ll(*this, other);
}

void string2data_sso_rc::swap_ss(string2data_sso_rc& a, string2data_sso_rc& b) {
    char chars[SmallCapacity + 1];
    mem_copy(chars, a._inline, a._len + 1);
    mem_copy(a._inline, b._inline, b._len + 1);
    mem_copy(b._inline, chars, a._len + 1);
    brel::swap(a._len, b._len);
    mac::check(a._cap == b._cap, "a._cap == b._cap", "src/brel_string2", 317);
}

void string2data_sso_rc::swap_ls(string2data_sso_rc& large, string2data_sso_rc& small) {
    char chars[SmallCapacity + 1];
    mem_copy(chars, small._inline, small._len + 1);
    small.take_place(large, large._ring._prev, large._ring._next);
    mem_copy(large._inline, chars, small._len + 1);
    brel::swap(large._len, small._len);
    brel::swap(large._cap, small._cap);
}

// Sharers of one block hold the same characters, so exchanging two of them changes nothing. Otherwise
// the rings are disjoint and each string takes the other's place.
void string2data_sso_rc::swap_ll(string2data_sso_rc& a, string2data_sso_rc& b) {
    if (a._ring._block == b._ring._block)
        return;
    const ring fromA = a._ring;
    const ring fromB = b._ring;
    b.take_place(a, fromA._prev, fromA._next);
    a.take_place(b, fromB._prev, fromB._next);
    a._ring._block = fromB._block;
    brel::swap(a._len, b._len);
    brel::swap(a._cap, b._cap);
}

void string2data_sso_rc::take_place(string2data_sso_rc& from, string2data_sso_rc* prev,
                                    string2data_sso_rc* next) {
    _ring._block = from._ring._block;
    if (prev == &from) {
        _ring._prev = _ring._next = this;
        return;
    }
    _ring._prev = prev;
    _ring._next = next;
    prev->_ring._next = this;
    next->_ring._prev = this;
}

char* string2data_sso_rc::new_block(int cap) {
    char* block = out_of_memory_if_null(new (std::nothrow) char[static_cast<unsigned long>(cap) + 2]);
    block[0] = SHAREABLE;
    return block;
}

void string2data_sso_rc::leave_ring() {
    _ring._prev->_ring._next = _ring._next;
    _ring._next->_ring._prev = _ring._prev;
}

string2::string2(const char* s) {
    if (s)
        append(s, static_cast<int>(std::strlen(s)));
}

string2& string2::operator=(const string2& src) {
    _data.assign(src._data, 0, npos);
    return *this;
}

string2& string2::resize(int n, char c) {
    _data.resize(n, c);
    return *this;
}

string2& string2::resize(int n) {
    return resize(n, '\0');
}

// `s` may point into this string's own characters, which resizing can move: it is then re-read from
// the new place.
string2& string2::append(const char* s, int n) {
    if (n <= 0)
        return *this;
    const int old = size();
    // A total beyond INT_MAX cannot be held: refuse it rather than wrap to a negative length.
    if (!mac::check(n <= INT_MAX - old, "n <= INT_MAX - size()", "src/brel_string2", 263))
        return *this;
    std::less<const char*> before;
    const char* own = _data.buf();
    const bool inside = !before(s, own) && before(s, own + old);
    const long offset = inside ? s - own : 0;
    resize(old + n);
    _data.set(old, inside ? _data.buf() + offset : s, n);
    return *this;
}

string2& string2::set(int pos, const char* s, int n) {
    _data.set(pos, s, n);
    return *this;
}

bool operator==(const string2& a, const string2& b) {
    return a.size() == b.size() &&
           std::memcmp(a.c_str(), b.c_str(), static_cast<unsigned long>(a.size())) == 0;
}

} // namespace brel
