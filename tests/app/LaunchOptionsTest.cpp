// The command line of the desktop program: what starts it, and what ends in a message and a status.

#include "app/LaunchOptions.h"

#include <gtest/gtest.h>

namespace {

LaunchOptions parsed(const QStringList& arguments, bool expectStart) {
    LaunchOptions options;
    EXPECT_EQ(options.parse(QStringList{QStringLiteral("veraxo")} + arguments), expectStart)
        << arguments.join(' ').toStdString();
    return options;
}

TEST(LaunchOptions, StartsWithTheMicrophoneByDefaultAndTakesEachOption) {
    const LaunchOptions plain = parsed({}, true);
    EXPECT_TRUE(plain.inputFile().isEmpty());
    EXPECT_TRUE(plain.device().isEmpty());
    EXPECT_FALSE(plain.listDevices());
    EXPECT_TRUE(plain.screenshotPath().isEmpty());
    EXPECT_EQ(plain.screenshotDelayMs(), 3000);

    const LaunchOptions input =
        parsed({"--input", "talk.wav", "--screenshot", "shot.png", "--screenshot-delay", "1.5"}, true);
    EXPECT_EQ(input.inputFile(), "talk.wav");
    EXPECT_EQ(input.screenshotPath(), "shot.png");
    EXPECT_EQ(input.screenshotDelayMs(), 1500);

    EXPECT_EQ(parsed({"talk.flac"}, true).inputFile(), "talk.flac") << "a file alone is --input";
    EXPECT_FALSE(plain.windowSize().isValid());
    EXPECT_EQ(parsed({"--window-size", "1280x800"}, true).windowSize(), QSize(1280, 800));

    EXPECT_EQ(parsed({"--device", "2"}, true).device(), "2");
    EXPECT_EQ(parsed({"--device=USB Headset"}, true).device(), "USB Headset");
    EXPECT_TRUE(parsed({"--list-devices"}, true).listDevices());
    EXPECT_FALSE(plain.mute());
    EXPECT_TRUE(parsed({"talk.wav", "--mute"}, true).mute());
}

TEST(LaunchOptions, HelpAndVersionPrintToStandardOutputAndSucceed) {
    const LaunchOptions help = parsed({"--help"}, false);
    EXPECT_EQ(help.exitStatus(), 0);
    EXPECT_FALSE(help.messageIsError());
    EXPECT_TRUE(help.message().contains("--input"));
    EXPECT_TRUE(help.message().contains("--list-devices"));
    EXPECT_TRUE(help.message().contains("Space"));

    const LaunchOptions version = parsed({"--version"}, false);
    EXPECT_EQ(version.exitStatus(), 0);
    EXPECT_FALSE(version.message().isEmpty());
}

TEST(LaunchOptions, UsageErrorsEndWithStatusTwoNamingTheProblemAndTheUsage) {
    const QList<QStringList> bad = {
        {"--bogus"},
        {"one.wav", "two.wav"},
        {"one.wav", "--input", "two.wav"},
        {"one.wav", "--device", "1"},
        {"--window-size", "wide"},
        {"--window-size", "0x480"},
        {"--input"},
        {"--input", ""},
        {"--input", "a.wav", "--device", "1"},
        {"--screenshot-delay", "soon"},
        {"--screenshot-delay", "-1"},
        {"--screenshot-delay", "inf"},
        {"--window-size", "big"},
        {"--window-size", "1280x"},
        {"--window-size", "50x800"},
    };
    for (const QStringList& arguments : bad) {
        const LaunchOptions options = parsed(arguments, false);
        EXPECT_EQ(options.exitStatus(), 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(options.messageIsError());
        EXPECT_TRUE(options.message().startsWith("veraxo: ")) << options.message().toStdString();
        EXPECT_TRUE(options.message().contains("--input")) << "the usage follows the problem";
    }
}

} // namespace
