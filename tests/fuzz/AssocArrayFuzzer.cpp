// brel::assoc_array against std::map: insertion through operator[] (with the map's own key type and
// with a foreign one), set, lower_bound and positional access in the order the input dictates. After
// every step the entries must be the model's, in key order, and every value reference taken earlier
// must still point at its entry's value, since entries never move. Positions outside the map must be
// reported and give null.

#include <cstdint>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "FuzzCheck.h"
#include "src/brel_assoc.h"

using veraxo_fuzz::require;

namespace {

// Orders int keys and compares them with short keys as well, without converting the short to a key.
struct IntLess {
    bool operator()(int a, int b) const { return a < b; }
    bool operator()(int a, short b) const { return a < int(b); }
    bool operator()(short a, int b) const { return int(a) < b; }
};

typedef brel::assoc_array<int, std::string, IntLess> Map;

int pickKey(veraxo_fuzz::FuzzInput& in) {
    const std::uint8_t k = in.byte();
    if (k == 255)
        return 2147483647;
    if (k == 254)
        return -2147483647 - 1;
    return int(k % 41) - 20;
}

std::string pickValue(veraxo_fuzz::FuzzInput& in) {
    // Long enough now and then to live on the heap, so a lost or doubled entry shows under ASan.
    return std::string(static_cast<std::size_t>(in.range(0, 40)), static_cast<char>('a' + in.range(0, 25)));
}

void verify(const Map& real, const std::map<int, std::string>& model,
            const std::vector<std::pair<int, const std::string*>>& refs) {
    require(real.size() == static_cast<int>(model.size()), "size matches the model");
    int i = 0;
    for (const auto& entry : model) {
        const Map::pair_type* p = real.pair_at(i++);
        require(p != nullptr, "every position holds an entry");
        require(p->first == entry.first, "keys in order and equal to the model's");
        require(p->second == entry.second, "values equal to the model's");
    }
    for (const auto& ref : refs) {
        const Map::pair_type* p = real.pair_at(real.lower_bound(ref.first));
        require(p != nullptr && &p->second == ref.second, "a value never moves while its entry lives");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = (veraxo_fuzz::countAssertionReports(), true);
    (void)quiet;
    veraxo_fuzz::FuzzInput in(data, size);
    Map real;
    std::map<int, std::string> model;
    std::vector<std::pair<int, const std::string*>> refs;

    for (int step = 0; step < 300 && !in.empty(); ++step) {
        switch (in.range(0, 4)) {
        case 0: { // operator[] with the key type; sometimes writes through the reference
            const int key = pickKey(in);
            std::string& value = real[key];
            std::string& expected = model[key];
            require(value == expected, "operator[] finds or inserts the model's value");
            if (in.byte() & 1) {
                value = pickValue(in);
                expected = value;
            }
            if (refs.size() < 8)
                refs.emplace_back(key, &value);
            break;
        }
        case 1: { // operator[] with a foreign key type
            const short key = static_cast<short>(int(in.byte() % 41) - 20);
            require(real[key] == model[int(key)], "a foreign key finds the same entry");
            break;
        }
        case 2: {
            const int key = pickKey(in);
            const std::string value = pickValue(in);
            real.set(key, value);
            model[key] = value;
            break;
        }
        case 3: {
            const int key = pickKey(in);
            const long expected = std::distance(model.begin(), model.lower_bound(key));
            require(real.lower_bound(key) == expected, "lower_bound matches the model");
            const short near = static_cast<short>(key % 30000);
            require(real.lower_bound(near) == std::distance(model.begin(), model.lower_bound(int(near))),
                    "lower_bound with a foreign key matches the model");
            break;
        }
        case 4: { // positions on both sides of the map
            const int i = in.range(-2, real.size() + 2);
            const long before = veraxo_fuzz::assertionReports();
            const Map::pair_type* p = real.pair_at(i);
            if (i < 0 || i >= real.size()) {
                require(p == nullptr, "a bad position gives null");
                require(veraxo_fuzz::assertionReports() > before, "a bad position is reported");
            } else {
                require(p != nullptr, "a good position gives its entry");
            }
            break;
        }
        }
        verify(real, model, refs);
    }
    return 0;
}
