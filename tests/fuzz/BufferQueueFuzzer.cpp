// BufferQueue against a model of two first-in-first-out lists. The input takes buffers from the pool,
// writes into them, hands them back as empty or as full (up to the queue's limit of 16, beyond which
// the caller keeps the buffer), takes full ones out and clears the queue. The queue must hand out the
// very buffers the model predicts, in order, with the samples they held kept below the new size and
// zeros beyond; a buffer it takes must leave the caller's hands.

#include <cstdint>
#include <deque>
#include <vector>

#include "FuzzCheck.h"
#include "Shared/BufferQueue.h"

using veraxo_fuzz::require;

namespace {

const int HANDS = 4;
const int MAX_FULL = 16;

typedef brel::array<short> Block;

struct Tracked {
    const Block* identity;
    std::vector<short> samples;
};

struct Hand {
    brel::auto_ptr<Block> real;
    Tracked model;
};

bool same(const Block& real, const std::vector<short>& model) {
    if (real.size() != static_cast<int>(model.size()))
        return false;
    for (int i = 0; i < real.size(); ++i)
        if (real[i] != model[static_cast<std::size_t>(i)])
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = (veraxo_fuzz::countAssertionReports(), true);
    (void)quiet;
    veraxo_fuzz::FuzzInput in(data, size);
    BufferQueue<short> queue;
    std::deque<Tracked> full;
    std::deque<Tracked> empty;
    Hand hands[HANDS];

    for (int step = 0; step < 400 && !in.empty(); ++step) {
        Hand& h = hands[in.range(0, HANDS - 1)];
        switch (in.range(0, 5)) {
        case 0: { // getEmpty: the buffer given back earliest, resized, or a fresh one
            const int n = in.range(0, 300);
            h.real = queue.getEmpty(n);
            require(h.real.get() != nullptr, "getEmpty never gives null");
            if (!empty.empty()) {
                require(h.real.get() == empty.front().identity,
                        "getEmpty gives the earliest returned buffer");
                h.model = empty.front();
                empty.pop_front();
            } else {
                h.model = Tracked{h.real.get(), std::vector<short>()};
            }
            h.model.samples.resize(static_cast<std::size_t>(n), 0);
            require(same(*h.real, h.model.samples), "getEmpty keeps old samples below n and zeros beyond");
            break;
        }
        case 1: // write into a buffer in hand
            if (h.real.get() != nullptr && h.real->size() > 0) {
                const int at = in.range(0, h.real->size() - 1);
                const short v = static_cast<short>(in.word());
                (*h.real)[at] = v;
                h.model.samples[static_cast<std::size_t>(at)] = v;
            }
            break;
        case 2:
            if (h.real.get() != nullptr) {
                queue.addEmpty(h.real);
                require(h.real.get() == nullptr, "addEmpty takes the buffer");
                empty.push_back(h.model);
            }
            break;
        case 3:
            if (h.real.get() != nullptr) {
                const int waiting = queue.addFull(h.real);
                if (static_cast<int>(full.size()) < MAX_FULL) {
                    require(h.real.get() == nullptr, "addFull takes the buffer below the limit");
                    full.push_back(h.model);
                } else {
                    require(h.real.get() == h.model.identity,
                            "addFull leaves the buffer with the caller at the limit");
                }
                require(waiting == static_cast<int>(full.size()), "addFull answers the number waiting");
            }
            break;
        case 4: // getFull: the oldest queued buffer, unchanged, or null
            h.real = queue.getFull();
            if (full.empty()) {
                require(h.real.get() == nullptr, "getFull on an empty queue gives null");
            } else {
                require(h.real.get() == full.front().identity, "getFull gives the oldest full buffer");
                h.model = full.front();
                full.pop_front();
                require(same(*h.real, h.model.samples), "a queued buffer keeps its samples");
            }
            break;
        case 5:
            queue.clear();
            full.clear();
            empty.clear();
            break;
        }
        for (const Hand& held : hands)
            if (held.real.get() != nullptr)
                require(same(*held.real, held.model.samples), "buffers in hand keep their samples");
    }
    return 0;
}
