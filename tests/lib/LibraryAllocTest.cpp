// Running out of memory anywhere inside the C interface gives NULL or an error code, never an exception
// through the boundary, and leaves no block behind. The interface code is linked statically here so
// that the test's allocator (heap_control) stands behind both operator new and brel::allocate.

#include <gtest/gtest.h>

#include <cstring>

#include "include/veraxo/veraxo.h"
#include "tests/support/heap_control.h"

TEST(LibraryOutOfMemory, EveryFailedAllocationGivesNullOrAnError) {
    const long baseline = brel_test::heap_blocks();
    int failures = 0;
    vx_engine* engine = 0;
    for (int allowed = 0; allowed < 1000 && !engine; ++allowed) {
        brel_test::HeapFailure failure(allowed);
        engine = vx_engine_new();
        if (!engine) {
            ++failures;
            EXPECT_EQ(brel_test::heap_blocks(), baseline) << "after " << allowed << " allocations";
        }
    }
    ASSERT_NE(engine, nullptr);
    EXPECT_GT(failures, 5);
    vx_engine_free(engine);
    EXPECT_EQ(brel_test::heap_blocks(), baseline);

    // The whole file analysis, failing at each step in turn, until it gets through.
    int fileFailures = 0;
    bool done = false;
    for (int allowed = 0; allowed < 1000 && !done; ++allowed) {
        vx_frame* frames = 0;
        std::size_t count = 0;
        char err[256] = "";
        brel_test::HeapFailure failure(allowed);
        done = vx_analyze_file(SAMPLE_WAV, &frames, &count, err, sizeof err) == 0;
        if (!done) {
            ++fileFailures;
            EXPECT_EQ(frames, nullptr);
            EXPECT_NE(std::strlen(err), 0u);
        } else {
            EXPECT_GT(count, 1000u);
        }
        vx_frames_free(frames);
    }
    EXPECT_TRUE(done);
    EXPECT_GT(fileFailures, 0);
    EXPECT_EQ(brel_test::heap_blocks(), baseline);
}
