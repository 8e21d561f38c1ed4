/* Veraxo as a library: the voice analysis of veraxo-analyze behind a small C interface.
 *
 * Input is 16-bit mono audio at 8000 Hz. Every 128 samples (a 16 ms hop) the engine gives one frame:
 * the lie level and the 32-band log-mel spectrum, the same values veraxo-analyze writes to its CSV
 * (`lie_level`, `s0` ... `s31`), however the samples are split across calls. No function throws or
 * aborts: failures are reported through the return value. */
#ifndef VERAXO_VERAXO_H
#define VERAXO_VERAXO_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* clang-format off */
typedef struct vx_engine vx_engine;
typedef struct vx_frame { float lie_level; float spectrum[32]; } vx_frame;
/* clang-format on */

/* The library's version, "MAJOR.MINOR.PATCH". */
const char* vx_version(void);

/* A new engine, or NULL when memory runs out. One engine serves one stream, from one thread at a time. */
vx_engine* vx_engine_new(void);
/* NULL is fine. */
void vx_engine_free(vx_engine* engine);

/* Feeds count samples and writes the frames they complete into frames. Returns the number of frames
 * written, or -1 with nothing consumed when an argument is invalid (NULL engine, NULL samples with
 * count > 0, NULL frames with max_frames > 0) or max_frames is too small; count / 128 + 1 frames of
 * room always suffice. -1 also follows running out of memory, after which the engine refuses input. */
/* clang-format off */
long vx_engine_push(vx_engine* engine, const int16_t* samples, size_t count,
                    vx_frame* frames, size_t max_frames);
/* clang-format on */

/* Analyses an audio file as veraxo-analyze does (any format libsndfile reads, or headerless 16-bit
 * 8000 Hz input in a ".raw" file; channels are mixed to mono and the rate converted to 8000 Hz). On
 * success returns 0 and hands out *count frames in *frames, to release with vx_frames_free (NULL when
 * there are none). On failure returns non-zero, sets *frames to NULL and *count to 0, and writes one
 * line naming the reason into err, truncated to err_size bytes and always terminated (err may be NULL
 * when err_size is 0). */
int vx_analyze_file(const char* path, vx_frame** frames, size_t* count, char* err, size_t err_size);
/* Releases the frames of vx_analyze_file; NULL is fine. */
void vx_frames_free(vx_frame* frames);

#ifdef __cplusplus
}
#endif

#endif
