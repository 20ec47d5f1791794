/* tonwell_two_objects: libtonwell from C. Loads two baked scene folders into one stereo engine,
 * places them side by side in front of the listener, and strikes them from a timed script,
 * playing through the default sound device (PortAudio) or, with --offline, writing a WAV file.
 *
 *   tonwell_two_objects FOLDER_A FOLDER_B SCRIPT [--offline OUT.wav] [--length SECONDS]
 *
 * SCRIPT: one strike per line, "SECONDS OBJECT VERTEX MAGNITUDE" (OBJECT 0 for FOLDER_A, 1 for
 * FOLDER_B; the force points down, -y); blank lines and lines starting with '#' are skipped.
 *
 * The main thread is the engine's control thread; PortAudio's callback is its render thread.
 */
#include <math.h>
#include <portaudio.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tonwell.h"

#define MAX_STRIKES 1024
#define SAMPLE_RATE 44100
#define CHANNELS 2

struct strike {
    double seconds;
    int object;
    int vertex;
    double magnitude;
};

static int compare_strikes(const void* a, const void* b) {
    const double ta = ((const struct strike*)a)->seconds, tb = ((const struct strike*)b)->seconds;
    return ta < tb ? -1 : ta > tb ? 1 : 0;
}

/* Reads the script into strikes[], sorted by time; returns their number, or -1 after a message. */
static int read_script(const char* file_name, struct strike* strikes) {
    FILE* file = fopen(file_name, "r");
    if (file == NULL) {
        fprintf(stderr, "%s: cannot be read\n", file_name);
        return -1;
    }
    char line[512];
    int count = 0, line_number = 0;
    while (fgets(line, sizeof line, file) != NULL) {
        ++line_number;
        const char* p = line;
        while (*p == ' ' || *p == '\t') ++p;
        if (*p == '#' || *p == '\n' || *p == '\r' || *p == '\0') continue;
        struct strike s;
        if (sscanf(p, "%lf %d %d %lf", &s.seconds, &s.object, &s.vertex, &s.magnitude) != 4 ||
            s.seconds < 0 || (s.object != 0 && s.object != 1) || count == MAX_STRIKES) {
            fprintf(stderr, "%s:%d: expected SECONDS OBJECT(0|1) VERTEX MAGNITUDE\n", file_name,
                    line_number);
            fclose(file);
            return -1;
        }
        strikes[count++] = s;
    }
    fclose(file);
    qsort(strikes, (size_t)count, sizeof strikes[0], compare_strikes);
    return count;
}

static int report(const char* what) {
    fprintf(stderr, "%s: %s (%s)\n", what, tonwell_last_error_message(),
            tonwell_error_name(tonwell_last_error()));
    return 1;
}

static void write_u32(FILE* f, unsigned v) {
    const unsigned char b[4] = {v & 255u, (v >> 8) & 255u, (v >> 16) & 255u, (v >> 24) & 255u};
    fwrite(b, 1, 4, f);
}

static void write_u16(FILE* f, unsigned v) {
    const unsigned char b[2] = {v & 255u, (v >> 8) & 255u};
    fwrite(b, 1, 2, f);
}

/* A 44.1 kHz stereo WAV file of 32-bit float samples (format 3, IEEE float). */
static int write_wav(const char* file_name, const float* samples, long frames) {
    FILE* f = fopen(file_name, "wb");
    if (f == NULL) {
        fprintf(stderr, "%s: cannot be written\n", file_name);
        return 1;
    }
    const unsigned data_bytes = (unsigned)(frames * CHANNELS * 4);
    fwrite("RIFF", 1, 4, f);
    write_u32(f, 36 + data_bytes);
    fwrite("WAVEfmt ", 1, 8, f);
    write_u32(f, 16);
    write_u16(f, 3);
    write_u16(f, CHANNELS);
    write_u32(f, SAMPLE_RATE);
    write_u32(f, SAMPLE_RATE * CHANNELS * 4);
    write_u16(f, CHANNELS * 4);
    write_u16(f, 32);
    fwrite("data", 1, 4, f);
    write_u32(f, data_bytes);
    /* The machine is little-endian, as WAV is. */
    const size_t written = fwrite(samples, sizeof(float), (size_t)frames * CHANNELS, f);
    if (fclose(f) != 0 || written != (size_t)frames * CHANNELS) {
        fprintf(stderr, "%s: cannot be written\n", file_name);
        return 1;
    }
    return 0;
}

/* PortAudio's callback: the render thread. */
static int play(const void* input, void* output, unsigned long frames,
                const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags flags, void* engine) {
    (void)input;
    (void)time;
    (void)flags;
    tonwell_engine_render((tonwell_engine*)engine, (float*)output, (long)frames);
    return paContinue;
}

int main(int argc, char** argv) {
    const char* output = NULL;
    double length = 3.0;
    const char* positional[3];
    int positional_count = 0;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--offline") == 0 && i + 1 < argc) {
            output = argv[++i];
        } else if (strcmp(argv[i], "--length") == 0 && i + 1 < argc) {
            length = atof(argv[++i]);
        } else if (positional_count < 3) {
            positional[positional_count++] = argv[i];
        } else {
            positional_count = 4;
        }
    }
    if (positional_count != 3 || !(length > 0 && length <= 600)) {
        fprintf(stderr,
                "usage: %s FOLDER_A FOLDER_B SCRIPT [--offline OUT.wav] [--length SECONDS]\n",
                argv[0]);
        return 2;
    }
    static struct strike strikes[MAX_STRIKES];
    const int strike_count = read_script(positional[2], strikes);
    if (strike_count < 0) return 2;

    tonwell_engine* engine = NULL;
    if (tonwell_engine_create(CHANNELS, 200, &engine) != TONWELL_OK) return report("engine");
    /* The listener 1.5 m in front of the objects, ears 16 cm apart. */
    const double eye[3] = {0.0, 0.3, 1.5}, left[3] = {-0.08, 0.3, 1.5}, right[3] = {0.08, 0.3, 1.5};
    tonwell_engine_set_listener(engine, eye, left, right);
    tonwell_object* objects[2] = {NULL, NULL};
    for (int k = 0; k < 2; ++k) {
        if (tonwell_object_load(engine, positional[k], &objects[k]) != TONWELL_OK) {
            report(positional[k]);
            tonwell_engine_destroy(engine);
            return 1;
        }
        /* Object 0 to the left, object 1 to the right. */
        const double translation[3] = {k == 0 ? -0.4 : 0.4, 0.0, 0.0};
        const double rotation[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        tonwell_object_set_pose(objects[k], translation, rotation);
    }
    const double down[3] = {0.0, -1.0, 0.0};
    const long frames = lround(length * SAMPLE_RATE);
    int next = 0, status = 0;

    if (output != NULL) {
        /* Offline: this thread is both the control and the render thread; strikes go in at the
         * first 256-frame buffer boundary at or after their time. */
        float* samples = calloc((size_t)frames * CHANNELS, sizeof(float));
        if (samples == NULL) return 1;
        for (long done = 0; done < frames;) {
            while (next < strike_count && strikes[next].seconds * SAMPLE_RATE <= done) {
                const struct strike* s = &strikes[next++];
                if (tonwell_object_strike(objects[s->object], s->vertex, down, s->magnitude) !=
                    TONWELL_OK) {
                    report("strike");
                }
            }
            const long take = frames - done < 256 ? frames - done : 256;
            tonwell_engine_render(engine, samples + done * CHANNELS, take);
            done += take;
        }
        status = write_wav(output, samples, frames);
        if (status == 0) printf("Wrote %s: %ld frames, %d channels\n", output, frames, CHANNELS);
        free(samples);
    } else {
        PaStream* stream = NULL;
        PaError error = Pa_Initialize();
        if (error == paNoError) {
            error = Pa_OpenDefaultStream(&stream, 0, CHANNELS, paFloat32, SAMPLE_RATE, 256, play,
                                         engine);
        }
        if (error == paNoError) error = Pa_StartStream(stream);
        if (error != paNoError) {
            fprintf(stderr, "PortAudio: %s\n", Pa_GetErrorText(error));
            Pa_Terminate();
            tonwell_engine_destroy(engine);
            return 1;
        }
        /* The control thread: strikes at their times by the stream's clock. */
        const PaTime start = Pa_GetStreamTime(stream);
        for (;;) {
            const double now = Pa_GetStreamTime(stream) - start;
            while (next < strike_count && strikes[next].seconds <= now) {
                const struct strike* s = &strikes[next++];
                if (tonwell_object_strike(objects[s->object], s->vertex, down, s->magnitude) !=
                    TONWELL_OK) {
                    report("strike");
                }
            }
            if (now >= length) break;
            Pa_Sleep(5);
        }
        Pa_StopStream(stream);
        Pa_CloseStream(stream);
        Pa_Terminate();
    }
    tonwell_object_unload(objects[0]);
    tonwell_engine_destroy(engine);
    return status;
}
