/* Prints the lie level and the spectrum of each frame of an audio file, one line per frame, first
 * through vx_analyze_file and then again by streaming the samples through an engine in blocks of
 * 1000, as a live source would. Build against an installed Veraxo with CMake (CMakeLists.txt here) or
 * with pkg-config:
 *
 *     cc analyze.c $(pkg-config --cflags --libs veraxo) -o analyze
 *     ./analyze speech.wav          # whole file
 *     ./analyze --stream speech.raw # 16-bit 8000 Hz mono headerless samples, streamed
 */
#include <stdio.h>
#include <string.h>

#include <veraxo/veraxo.h>

static void print_frame(const vx_frame* f) {
    printf("%.9g", f->lie_level);
    for (int i = 0; i < 32; ++i)
        printf(",%.9g", f->spectrum[i]);
    printf("\n");
}

static int stream(const char* path) {
    FILE* in = fopen(path, "rb");
    if (!in) {
        perror(path);
        return 1;
    }
    vx_engine* engine = vx_engine_new();
    if (!engine) {
        fclose(in);
        fprintf(stderr, "out of memory\n");
        return 1;
    }
    int16_t block[1000];
    vx_frame frames[1000 / 128 + 1];
    size_t n;
    while ((n = fread(block, sizeof block[0], 1000, in)) > 0) {
        long got = vx_engine_push(engine, block, n, frames, sizeof frames / sizeof frames[0]);
        for (long i = 0; i < got; ++i)
            print_frame(&frames[i]);
    }
    vx_engine_free(engine);
    fclose(in);
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "--stream") == 0)
        return stream(argv[2]);
    if (argc != 2) {
        fprintf(stderr, "usage: %s [--stream] FILE (libveraxo %s)\n", argv[0], vx_version());
        return 2;
    }
    vx_frame* frames;
    size_t count;
    char err[256];
    if (vx_analyze_file(argv[1], &frames, &count, err, sizeof err) != 0) {
        fprintf(stderr, "%s\n", err);
        return 1;
    }
    for (size_t i = 0; i < count; ++i)
        print_frame(&frames[i]);
    vx_frames_free(frames);
    return 0;
}
