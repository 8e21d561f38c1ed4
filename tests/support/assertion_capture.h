#pragma once
// Collects the reports of brel::mac::assertion_failure while an AssertionCapture lives, instead of
// letting them reach standard error. Reports may come from any thread.

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace veraxo_test {

struct AssertionReport {
    std::string condition;
    std::string file;
    int line;
};

class AssertionCapture {
public:
    AssertionCapture();
    ~AssertionCapture();
    AssertionCapture(const AssertionCapture&) = delete;
    AssertionCapture& operator=(const AssertionCapture&) = delete;

    std::vector<AssertionReport> reports() const;
    std::size_t count() const;
    // Number of reports whose condition text is exactly `condition`.
    std::size_t count(const std::string& condition) const;
    bool contains(const std::string& condition, const std::string& file, int line) const;
    void clear();

private:
    static void sink(const char* condition, const char* file, int line);

    mutable std::mutex _mutex;
    std::vector<AssertionReport> _reports;
    AssertionCapture* _previous;
};

} // namespace veraxo_test
