// Command-line parsing: accepted forms, limits of --block and the messages for what is refused.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/AnalyzeOptions.h"

namespace {

AnalyzeOptions::Result parse(AnalyzeOptions& o, std::vector<std::string> args) {
    return o.parse(args);
}

} // namespace

TEST(AnalyzeOptions, DefaultsAndEveryOptionForm) {
    AnalyzeOptions plain;
    ASSERT_EQ(parse(plain, {"in.wav"}), AnalyzeOptions::OK);
    EXPECT_EQ(plain.input, "in.wav");
    EXPECT_FALSE(plain.csv);
    EXPECT_EQ(plain.block, 512);
    EXPECT_FALSE(plain.raw);

    AnalyzeOptions full;
    ASSERT_EQ(parse(full, {"--block", "1000000", "in.raw", "--csv=-", "--raw"}), AnalyzeOptions::OK);
    EXPECT_EQ(full.input, "in.raw");
    EXPECT_TRUE(full.csv);
    EXPECT_EQ(full.csvPath, "-");
    EXPECT_EQ(full.block, 1000000);
    EXPECT_TRUE(full.raw);

    AnalyzeOptions dashed;
    ASSERT_EQ(parse(dashed, {"--block=1", "--csv", "out.csv", "--", "--odd-name.wav"}), AnalyzeOptions::OK);
    EXPECT_EQ(dashed.input, "--odd-name.wav");
    EXPECT_EQ(dashed.block, 1);
    EXPECT_EQ(dashed.csvPath, "out.csv");

    AnalyzeOptions help;
    EXPECT_EQ(parse(help, {"in.wav", "--help"}), AnalyzeOptions::HELP);
}

TEST(AnalyzeOptions, RefusedCommandLinesSayWhy) {
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{}, "no INPUT file given"},
        {{"a.wav", "b.wav"}, "more than one INPUT given ('a.wav' and 'b.wav')"},
        {{"--block", "0", "a.wav"}, "--block needs a whole number from 1 to 1000000, not '0'"},
        {{"--block", "1000001", "a.wav"}, "--block needs a whole number from 1 to 1000000, not '1000001'"},
        {{"--block", "-5", "a.wav"}, "--block needs a whole number from 1 to 1000000, not '-5'"},
        {{"--block", "12abc", "a.wav"}, "--block needs a whole number from 1 to 1000000, not '12abc'"},
        {{"--block=", "a.wav"}, "--block needs a whole number from 1 to 1000000, not ''"},
        {{"a.wav", "--block"}, "option --block needs a value"},
        {{"a.wav", "--csv"}, "option --csv needs a value"},
        {{"--csv=", "a.wav"}, "--csv needs a file name or '-'"},
        {{"--verbose", "a.wav"}, "unknown option '--verbose'"},
        {{"-x", "a.wav"}, "unknown option '-x'"},
        {{"--png=", "a.wav"}, "--png needs a file name"},
    };
    for (const auto& c : cases) {
        AnalyzeOptions o;
        EXPECT_EQ(o.parse(c.args), AnalyzeOptions::USAGE_ERROR) << c.message;
        EXPECT_EQ(o.error, c.message);
    }
}
