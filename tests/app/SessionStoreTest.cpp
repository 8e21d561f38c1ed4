// The session store: the audio thread's side never allocates, the session keeps the last hour and
// counts what it drops, and the CSV of what it keeps numbers each frame by its place in the session.

#include "SessionStore.h"

#include "VeraxoEngine.h"

#include "support/alloc_counter.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <thread>
#include <vector>

namespace {

TEST(SessionStore, TheAudioThreadHandsFramesOverWithoutAllocating) {
    SessionStore store;
    VeraxoEngine engine;
    store.attach(engine);
    std::vector<short> block(256);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = short(6000.0 * std::sin(double(i) * 0.3));
    long allocations = -1;
    std::thread audio([&] {
        for (int i = 0; i < 20; ++i) // warm-up: the engine's blocks reach their steady length
            engine.input(block.data(), int(block.size()));
        veraxo_test::AllocationCount count;
        for (int i = 0; i < 5000; ++i)
            engine.input(block.data(), int(block.size()));
        allocations = count.on_this_thread();
    });
    audio.join();
    EXPECT_EQ(allocations, 0);
    store.collect();
    EXPECT_EQ(store.frameCount(), 5020 * 2);
    EXPECT_EQ(store.keptFrames(), SessionStore::RING_FRAMES) << "what the ring had room for";
    EXPECT_EQ(store.droppedFrames(), 5020 * 2 - SessionStore::RING_FRAMES);
    engine.input(block.data(), int(block.size()));
    store.collect();
    EXPECT_EQ(store.frames().back().index, 5021 * 2 - 1) << "after the gap, frames keep their place";

    store.clear();
    EXPECT_EQ(store.frameCount(), 0);
    EXPECT_EQ(store.keptFrames(), 0);
}

TEST(SessionStore, KeepsTheLastHourAndItsCsvNumbersFramesByTheirPlace) {
    SessionStore store;
    const long long extra = 1000;
    float spectrum[SessionStore::BANDS] = {};
    for (long long i = 0; i < SessionStore::MAX_FRAMES + extra; ++i) {
        const float level = float(i % 100) / 100.0f;
        spectrum[0] = float(i);
        store.onLieLevel(&level, 1);
        store.onSpectrum(spectrum, SessionStore::BANDS);
        if (i % 4096 == 0)
            store.collect();
    }
    store.collect();
    EXPECT_EQ(store.keptFrames(), SessionStore::MAX_FRAMES);
    EXPECT_EQ(store.droppedFrames(), extra);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("session.csv"));
    QString error;
    ASSERT_TRUE(store.writeCsv(path, error)) << error.toStdString();
    QFile csv(path);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_TRUE(csv.readLine().startsWith("frame,time_s,lie_level,s0,s1,"));
    EXPECT_EQ(csv.readLine(), QByteArray("1000,16.016,0,1000") + QByteArray(",0").repeated(31) + "\n");

    // A file that cannot be written is reported, and leaves nothing behind.
    const QString blocked = dir.filePath(QStringLiteral("missing/session.csv"));
    EXPECT_FALSE(store.writeCsv(blocked, error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(QFile::exists(blocked));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
