/* Audio pacer of the end-to-end tests. ALSA's "file" plugin pipes every sample the program
 * plays into this program's standard input; with a null slave nothing else paces the stream, so
 * the audio callback would run as fast as the CPU allows. The pacer stores what it reads and
 * sleeps until that much audio is due in real time, so the callback runs at the real rate.
 *
 * Usage: tonwell_pacer RATE CHANNELS BITS OUTPUT_FILE */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

static double now_seconds(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: %s RATE CHANNELS BITS OUTPUT_FILE\n", argv[0]);
        return 2;
    }
    const double rate = atof(argv[1]);
    const int bytesPerFrame = atoi(argv[2]) * atoi(argv[3]) / 8;
    FILE* out = fopen(argv[4], "ab");
    if (out == NULL || rate <= 0 || bytesPerFrame <= 0) return 2;
    /* A one-page pipe keeps the writer no more than a few milliseconds ahead of us. */
    fcntl(0, F_SETPIPE_SZ, 4096);

    const size_t chunk = (size_t)(rate * 0.005) * bytesPerFrame; /* 5 ms */
    char* buffer = malloc(chunk);
    double start = now_seconds();
    double framesSinceStart = 0;
    for (;;) {
        ssize_t n = read(0, buffer, chunk);
        if (n <= 0) break;
        fwrite(buffer, 1, (size_t)n, out);
        fflush(out);
        framesSinceStart += (double)n / bytesPerFrame;
        double due = start + framesSinceStart / rate;
        double t = now_seconds();
        if (t > due + 0.1) { /* the stream was idle: restart the clock */
            start = t;
            framesSinceStart = 0;
        } else if (due > t) {
            usleep((useconds_t)((due - t) * 1e6));
        }
    }
    fclose(out);
    free(buffer);
    return 0;
}
