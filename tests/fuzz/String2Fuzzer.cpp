// brel::string2 against std::string. A handful of slots hold strings made, copied (which shares a
// heap block through the copy ring), cut, resized, appended to (also from their own characters),
// overwritten, swapped, compared and destroyed in the order the input dictates. After every step each
// string must hold exactly its model's characters followed by a zero byte. Overwrites outside the
// characters must be reported and change nothing.

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "FuzzCheck.h"
#include "src/brel_string2.h"

using veraxo_fuzz::require;

namespace {

const int SLOTS = 5;
const int MAX_LEN = 120;

struct Slot {
    std::unique_ptr<brel::string2> real;
    std::string model;
};

int clampInt(int v, int lo, int hi) {
    return v < lo ? lo : (v > hi ? hi : v);
}

void verify(const Slot& s) {
    if (!s.real)
        return;
    const brel::string2& r = *s.real;
    require(r.size() == static_cast<int>(s.model.size()), "size matches the model");
    require(std::memcmp(r.c_str(), s.model.data(), s.model.size()) == 0, "characters match the model");
    require(r.c_str()[r.size()] == 0, "characters end in a zero byte");
    require(r.capacity() >= r.size() && r.capacity() >= 16, "capacity holds the characters");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = (veraxo_fuzz::countAssertionReports(), true);
    (void)quiet;
    veraxo_fuzz::FuzzInput in(data, size);
    Slot slots[SLOTS];

    for (int step = 0; step < 200 && !in.empty(); ++step) {
        const int op = in.range(0, 11);
        Slot& a = slots[in.range(0, SLOTS - 1)];
        Slot& b = slots[in.range(0, SLOTS - 1)];
        switch (op) {
        case 0: { // from a C string
            char text[48];
            const int n = in.range(0, 47);
            for (int i = 0; i < n; ++i)
                text[i] = static_cast<char>(in.range(1, 255));
            text[n] = 0;
            a.real = std::make_unique<brel::string2>(text);
            a.model.assign(text, static_cast<std::size_t>(n));
            break;
        }
        case 1: // whole copy
            if (b.real) {
                std::unique_ptr<brel::string2> copy = std::make_unique<brel::string2>(*b.real);
                a.real = std::move(copy);
                a.model = b.model;
            }
            break;
        case 2: // part copy, position and length clamped into the source
            if (b.real) {
                const int len = static_cast<int>(b.model.size());
                const int pos = in.range(-3, MAX_LEN);
                const int n = in.range(-3, MAX_LEN);
                std::unique_ptr<brel::string2> copy = std::make_unique<brel::string2>(*b.real, pos, n);
                const int p = clampInt(pos, 0, len);
                a.model = b.model.substr(static_cast<std::size_t>(p),
                                         static_cast<std::size_t>(clampInt(n, 0, len - p)));
                a.real = std::move(copy);
            }
            break;
        case 3: // assignment, self-assignment included
            if (a.real && b.real) {
                *a.real = *b.real;
                a.model = std::string(b.model);
            }
            break;
        case 4:
        case 5: // resize, with a filler or with zeros
            if (a.real) {
                const int n = in.range(-2, MAX_LEN);
                const char c = op == 4 ? static_cast<char>(in.byte()) : '\0';
                if (op == 4)
                    a.real->resize(n, c);
                else
                    a.real->resize(n);
                a.model.resize(static_cast<std::size_t>(n < 0 ? 0 : n), c);
            }
            break;
        case 6: // append foreign bytes
            if (a.real && a.model.size() < MAX_LEN) {
                std::size_t got = 0;
                const std::uint8_t* bytes = in.take(static_cast<std::size_t>(in.range(0, 40)), got);
                a.real->append(reinterpret_cast<const char*>(bytes), static_cast<int>(got));
                a.model.append(reinterpret_cast<const char*>(bytes), got);
            }
            break;
        case 7: // append part of the string's own characters
            if (a.real && !a.model.empty() && a.model.size() < MAX_LEN) {
                const int len = static_cast<int>(a.model.size());
                const int from = in.range(0, len - 1);
                const int n = in.range(0, len - from);
                a.real->append(a.real->c_str() + from, n);
                a.model += a.model.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(n));
            }
            break;
        case 8: // overwrite a range, possibly outside the characters
            if (a.real) {
                const int len = static_cast<int>(a.model.size());
                const int pos = in.range(-2, len + 2);
                const int n = in.range(-2, len + 2);
                // Strings stay below 2 * MAX_LEN characters, so the source always has n bytes.
                char text[2 * MAX_LEN + 8];
                const std::uint8_t seed = in.byte();
                for (int i = 0; i < static_cast<int>(sizeof text); ++i)
                    text[i] = static_cast<char>(seed + i);
                const bool valid = pos >= 0 && pos <= len && n >= 0 && n <= len - pos;
                const long before = veraxo_fuzz::assertionReports();
                a.real->set(pos, text, n);
                if (valid)
                    a.model.replace(static_cast<std::size_t>(pos), static_cast<std::size_t>(n), text,
                                    static_cast<std::size_t>(n));
                else if (n > 0)
                    require(veraxo_fuzz::assertionReports() > before, "an overwrite outside is reported");
            }
            break;
        case 9:
            if (a.real && b.real) {
                a.real->swap(*b.real);
                a.model.swap(b.model);
            }
            break;
        case 10:
            a.real.reset();
            a.model.clear();
            break;
        case 11:
            if (a.real && b.real)
                require((*a.real == *b.real) == (a.model == b.model), "equality matches the model");
            break;
        }
        for (const Slot& s : slots)
            verify(s);
    }
    return 0;
}
