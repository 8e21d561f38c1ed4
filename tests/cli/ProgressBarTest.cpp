// The bar draws only when enabled and its percentage or detail changes, caps at 100% and erases itself.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/ProgressBar.h"

namespace {

struct Captured {
    Captured() : file(open_memstream(&text, &size)) {}
    ~Captured() { std::free(text); }
    std::string close() {
        std::fclose(file);
        return std::string(text, size);
    }
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* file;
};

int count(const std::string& s, const std::string& what) {
    int n = 0;
    for (std::size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1))
        ++n;
    return n;
}

} // namespace

TEST(ProgressBar, RedrawsOnlyOnChangeAndClearsAtTheEnd) {
    Captured c;
    {
        ProgressBar bar(c.file, 1000, true);
        bar.update(0);
        bar.update(4);
        bar.update(500);
        bar.update(505);
        bar.update(2000);
        bar.finish();
        bar.finish();
    }
    const std::string out = c.close();
    EXPECT_EQ(count(out, "%"), 3) << out;
    EXPECT_NE(out.find("[" + std::string(20, '#') + std::string(20, '.') + "]  50%"), std::string::npos)
        << out;
    EXPECT_NE(out.find("[" + std::string(40, '#') + "] 100%"), std::string::npos) << out;
    // The last thing written blanks the line and returns to its start.
    EXPECT_EQ(out.substr(out.size() - 50), "\r" + std::string(48, ' ') + "\r");
}

TEST(ProgressBar, DisabledOrWithoutTotalDrawsNothing) {
    Captured c;
    {
        ProgressBar off(c.file, 1000, false);
        off.update(500);
        ProgressBar unknown(c.file, 0, true);
        unknown.update(500);
    }
    EXPECT_EQ(c.close(), "");
}

TEST(ProgressBar, DetailRedrawsTheLineAndAShorterOneBlanksWhatTheLongerLeft) {
    Captured c;
    {
        ProgressBar bar(c.file, 4000, true);
        bar.update(1000, "1/4 files, 1200 s of audio at 3000 s/s");
        bar.update(1000, "1/4 files, 1200 s of audio at 3000 s/s");
        bar.update(1000, "2/4 files, 90 s of audio at 9 s/s");
        bar.finish();
    }
    const std::string out = c.close();
    EXPECT_EQ(count(out, "\r["), 2) << out;
    const std::string longer =
        "\r[" + std::string(10, '#') + std::string(30, '.') + "]  25% 1/4 files, 1200 s of audio at 3000 s/s";
    EXPECT_EQ(out.rfind(longer, 0), 0u) << out;
    // The shorter line is padded over the longer one's tail, and the end blanks the longest line.
    const std::string shorter = "]  25% 2/4 files, 90 s of audio at 9 s/s" + std::string(5, ' ') + "\r";
    EXPECT_NE(out.find(shorter), std::string::npos) << out;
    EXPECT_EQ(out.substr(out.size() - longer.size() - 1), "\r" + std::string(longer.size() - 1, ' ') + "\r");
}
