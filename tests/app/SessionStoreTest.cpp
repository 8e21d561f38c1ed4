// The session store: the audio thread's side never allocates, the session keeps the last hour and
// counts what it drops, and the CSV of what it keeps numbers each frame by its place in the session.

#include "app/SessionStore.h"

#include "Shared/VeraxoEngine.h"

#include "tests/support/alloc_counter.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace {

TEST(SessionStore, TheAudioThreadHandsFramesOverWithoutAllocatingOrLosingThem) {
    SessionStore store;
    VeraxoEngine engine;
    store.attach(engine);
    std::vector<short> block(256);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = short(6000.0 * std::sin(double(i) * 0.3));
    const int blocks = 5000;
    long allocations = -1;
    std::atomic<bool> done{false};
    std::atomic<long long> collected{0};
    std::thread audio([&] {
        for (int i = 0; i < 20; ++i) // warm-up: the engine's blocks reach their steady length
            engine.input(block.data(), int(block.size()));
        veraxo_test::AllocationCount count;
        for (int i = 0; i < blocks; ++i) {
            // Never more than half a ring ahead, however slowly the main thread is scheduled.
            while ((20 + i) * 2LL - collected.load() > SessionStore::RING_FRAMES / 2)
                std::this_thread::yield();
            engine.input(block.data(), int(block.size()));
        }
        allocations = count.on_this_thread();
        done = true;
    });
    // The main thread takes frames while they arrive, as the application's timer does.
    while (!done) {
        store.collect();
        collected = store.keptFrames();
    }
    audio.join();
    store.collect();
    EXPECT_EQ(allocations, 0);
    const long long frames = (blocks + 20) * 2LL;
    ASSERT_EQ(store.frameCount(), frames);
    EXPECT_EQ(store.keptFrames(), frames) << "a main thread that keeps up loses nothing";
    long long expected = 0;
    for (const SessionStore::Frame& frame : store.frames())
        if (frame.index != expected++ || frame.bands != SessionStore::BANDS)
            break;
    EXPECT_EQ(expected, frames) << "every frame once, in order";

    // A main thread that stalls loses what the ring has no room for, and counts it.
    store.clear();
    EXPECT_EQ(store.frameCount(), 0);
    EXPECT_EQ(store.keptFrames(), 0);
    const float spectrum[SessionStore::BANDS] = {};
    for (int i = 0; i < SessionStore::RING_FRAMES + 10; ++i)
        store.onSpectrum(spectrum, SessionStore::BANDS);
    store.collect();
    store.onSpectrum(spectrum, SessionStore::BANDS);
    store.collect();
    EXPECT_EQ(store.keptFrames(), SessionStore::RING_FRAMES + 1);
    EXPECT_EQ(store.droppedFrames(), 10);
    EXPECT_EQ(store.frames().back().index, SessionStore::RING_FRAMES + 10) << "after the gap, frames keep "
                                                                              "their place";
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
