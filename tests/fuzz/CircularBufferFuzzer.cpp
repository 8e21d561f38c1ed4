// brel::circular_buffer against a std::deque of bounded length: pushes at both ends (overwriting the
// opposite end once full), pops, reads by position and clears, on a ring whose capacity the input
// picks (non-positive ones included). Elements are strings, so a slot constructed twice, destroyed
// twice or never destroyed shows under ASan. Reads past the back must be reported; every read that
// finds no element must give an empty stand-in.

#include <cstdint>
#include <deque>
#include <string>

#include "FuzzCheck.h"
#include "src/brel_circular.h"

using veraxo_fuzz::require;

namespace {

std::string pickValue(veraxo_fuzz::FuzzInput& in) {
    return std::string(static_cast<std::size_t>(in.range(1, 32)), static_cast<char>('a' + in.range(0, 25)));
}

void verify(const brel::circular_buffer<std::string>& real, const std::deque<std::string>& model,
            int capacity) {
    require(real.capacity() == capacity, "capacity as built");
    require(real.size() == static_cast<int>(model.size()), "size matches the model");
    for (int i = 0; i < real.size(); ++i)
        require(real.at(i) == model[static_cast<std::size_t>(i)], "element matches the model");
    std::size_t walked = 0;
    real.for_each([&](const std::string& x) {
        require(walked < model.size() && x == model[walked], "for_each walks the model's order");
        ++walked;
    });
    require(walked == model.size(), "for_each visits every element");
    require(real.front() == (model.empty() ? std::string() : model.front()), "front matches the model");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = (veraxo_fuzz::countAssertionReports(), true);
    (void)quiet;
    veraxo_fuzz::FuzzInput in(data, size);
    const int asked = in.range(-2, 9);
    const int capacity = asked > 0 ? asked : 0;
    brel::circular_buffer<std::string> real(asked);
    std::deque<std::string> model;

    for (int step = 0; step < 400 && !in.empty(); ++step) {
        switch (in.range(0, 5)) {
        case 0: {
            const std::string v = pickValue(in);
            real.push_back(v);
            if (capacity == 0)
                break;
            if (static_cast<int>(model.size()) == capacity)
                model.pop_front();
            model.push_back(v);
            break;
        }
        case 1: {
            const std::string v = pickValue(in);
            real.push_front(v);
            if (capacity == 0)
                break;
            if (static_cast<int>(model.size()) == capacity)
                model.pop_back();
            model.push_front(v);
            break;
        }
        case 2:
            real.pop_front();
            if (!model.empty())
                model.pop_front();
            break;
        case 3: {
            const int pos = in.range(-2, real.size() + 2);
            const long before = veraxo_fuzz::assertionReports();
            const std::string& got = real.at(pos);
            const bool inside = pos >= 0 && pos < static_cast<int>(model.size());
            require(got == (inside ? model[static_cast<std::size_t>(pos)] : std::string()),
                    "a read gives the element or an empty stand-in");
            require((veraxo_fuzz::assertionReports() > before) == (pos > real.size()),
                    "exactly the reads past the back are reported");
            break;
        }
        case 4:
            real.clear();
            model.clear();
            break;
        case 5: // the stand-in handed out by a failed read must not keep what was written into it
            if (model.empty()) {
                const_cast<std::string&>(real.front()) = "stray";
                require(real.front().empty(), "the stand-in is reset on every hand-out");
            }
            break;
        }
        verify(real, model, capacity);
    }
    return 0;
}
