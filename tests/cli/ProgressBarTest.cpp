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

// On a narrow terminal no line reaches the last column (the cursor would wrap and stack the redraws):
// the bar narrows, then the detail goes, and the blanking at the end fits too.
TEST(ProgressBar, FitsTheTerminalsWidth) {
    const std::string detail = "3/6 files, 1200 s of audio at 3000 s/s";
    for (int columns : {120, 60, 40, 12, 3}) {
        Captured c;
        {
            ProgressBar bar(c.file, 1000, true, columns);
            bar.update(500, detail.c_str());
            bar.update(1000, "6/6 files");
        }
        const std::string out = c.close();
        std::size_t start = 0;
        int drawn = 0;
        for (std::size_t end = out.find('\r', 1); start < out.size(); end = out.find('\r', start + 1)) {
            const std::string line = out.substr(start + 1, end == std::string::npos ? end : end - start - 1);
            EXPECT_LT(static_cast<int>(line.size()), columns) << columns << ": '" << line << "'";
            drawn += line.find('%') != std::string::npos;
            if (end == std::string::npos)
                break;
            start = end;
        }
        EXPECT_EQ(drawn, columns > 3 ? 2 : 0) << columns << out;
        EXPECT_EQ(out.find(detail) != std::string::npos, columns > 10 + 8 + static_cast<int>(detail.size()))
            << columns << out;
        EXPECT_EQ(out.find("[" + std::string(20, '#') + std::string(20, '.') + "]") != std::string::npos,
                  columns == 120)
            << out;
    }
}
