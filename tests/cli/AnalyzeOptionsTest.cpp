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
    AnalyzeOptions version;
    EXPECT_EQ(parse(version, {"--version", "in.wav"}), AnalyzeOptions::VERSION);

    AnalyzeOptions batch;
    EXPECT_EQ(batch.jobs, 0);
    EXPECT_EQ(batch.summary, AnalyzeOptions::SUMMARY_TEXT);
    ASSERT_EQ(parse(batch, {"a.wav", "-j", "3", "--summary=json", "-", "--csv-dir", "out", "dir/b.flac",
                            "-j4", "--jobs=5", "--summary", "csv"}),
              AnalyzeOptions::OK);
    EXPECT_EQ(batch.inputs, (std::vector<std::string>{"a.wav", "-", "dir/b.flac"}));
    EXPECT_EQ(batch.input, "a.wav");
    EXPECT_EQ(batch.jobs, 5);
    EXPECT_EQ(batch.summary, AnalyzeOptions::SUMMARY_CSV);
    EXPECT_EQ(batch.csvDir, "out");
    EXPECT_FALSE(batch.csv);
    EXPECT_EQ(AnalyzeOptions::outputName("dir/b.flac"), "b");
    EXPECT_EQ(AnalyzeOptions::outputName("take.2.wav"), "take.2");
    EXPECT_EQ(AnalyzeOptions::outputName(".hidden"), ".hidden");
    EXPECT_EQ(AnalyzeOptions::outputName("-"), "stdin");
}

TEST(AnalyzeOptions, RefusedCommandLinesSayWhy) {
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{}, "no INPUT file given"},
        {{"--csv", "x.csv", "a.wav", "b.wav"}, "--csv takes one INPUT, not 2; use --csv-dir for several"},
        {{"--csv", "x.csv", "--csv-dir", "d", "a.wav"}, "--csv and --csv-dir cannot be used together"},
        {{"--csv-dir", "d", "a/take.wav", "b/take.flac"},
         "'a/take.wav' and 'b/take.flac' would both write take.csv"},
        {{"-", "a.wav", "-"}, "standard input ('-') can be read only once"},
        {{"-j", "0", "a.wav"}, "-j needs a whole number from 1 to 1024, not '0'"},
        {{"--jobs=1025", "a.wav"}, "--jobs needs a whole number from 1 to 1024, not '1025'"},
        {{"-j2x", "a.wav"}, "-j needs a whole number from 1 to 1024, not '2x'"},
        {{"--summary", "xml", "a.wav"}, "--summary needs text, json or csv, not 'xml'"},
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
