/* libtonwell: Tonwell's modal sound engine as a library with a plain C interface.
 *
 * An engine mixes any number (up to 64) of struck objects, each loaded from a scene folder baked
 * by tonwell-bake, at one listener, into the host's float buffer. Every vibration mode of an
 * object rings in its own exact resonator with Rayleigh damping; each is weighted by how strongly
 * it radiates to the listener (its acoustic transfer). Units are SI; samples are full scale +-1,
 * 1.0 being a pressure of 1 Pa at the listener; the rate is 44100 Hz.
 *
 * Threads: one control thread makes every call except tonwell_engine_render, which one render
 * thread (the host's audio callback) makes, at the same time as any control call. Render never
 * waits for the control thread, allocates nothing, does no I/O and takes no lock; the control
 * thread hands everything over lock-free. tonwell_object_unload is the one call that waits: for
 * a render call under way to return.
 *
 * Errors: every function that can fail returns an int, TONWELL_OK (0) or one of the error codes
 * below, and never ends the process. The control thread's last error and its message
 * (tonwell_last_error, tonwell_last_error_message) say what went wrong; a file problem's message
 * names the file. tonwell_engine_render returns its code without touching the last error (it
 * must not allocate).
 */
#ifndef TONWELL_H
#define TONWELL_H

#ifdef __cplusplus
extern "C" {
#endif

enum {
    TONWELL_OK = 0,
    TONWELL_ERROR_ARGUMENT = 1, /* a null handle or pointer, or a value out of its range */
    TONWELL_ERROR_FILE = 2,     /* a scene folder or one of its files is missing or malformed */
    TONWELL_ERROR_FULL = 3,     /* every object slot, or an object's strike queue, is full */
    TONWELL_ERROR_MEMORY = 4    /* an allocation failed */
};

/* The renderers: the gain of each mode at the listener. */
enum {
    TONWELL_RENDERER_ZEP = 0,  /* omega times the acoustic transfer at the listener */
    TONWELL_RENDERER_MODAL = 1 /* the scene's modal gain / distance to the object (mono only) */
};

typedef struct tonwell_engine tonwell_engine;
typedef struct tonwell_object tonwell_object;

/* The code of the last call on this thread that failed (TONWELL_OK before any), and its message:
 * what went wrong, naming the file for a file problem. The message stays valid until the next
 * failing call on this thread. */
int tonwell_last_error(void);
const char* tonwell_last_error_message(void);
/* The name of an error code ("TONWELL_ERROR_FILE"), or "unknown". */
const char* tonwell_error_name(int code);

/* [Control] A new engine of `channels` (1: mono at the listener's eye; 2: stereo at its ears)
 * evaluating the transfer `transfer_rate_hz` times a second (100 .. 300; 200 is the demo's
 * default), into *engine. No object; listener at the origin; renderer ZEP; strikes act for 10
 * samples. */
int tonwell_engine_create(int channels, int transfer_rate_hz, tonwell_engine** engine);
/* [Control] Frees the engine and every object still loaded. No render call may run. Null: no-op. */
void tonwell_engine_destroy(tonwell_engine* engine);

/* [Control] Places the listener: its eye (mono) and its left and right ears (stereo), world
 * coordinates in metres. */
int tonwell_engine_set_listener(tonwell_engine* engine, const double eye[3],
                                const double left_ear[3], const double right_ear[3]);
/* [Control] Places the listener by its head: eye at `position`, looking along `forward`, with
 * `up` as the head's up (neither zero nor parallel); the ears sit 0.2 m apart on the head's
 * right axis (forward x up), as the demo's camera places them. The binaural output hears the
 * object in its direction in this head's frame. tonwell_engine_set_listener gives ear points
 * only: the head then faces the horizontal direction at right angles to the ears, world +y up. */
int tonwell_engine_set_listener_pose(tonwell_engine* engine, const double position[3],
                                     const double forward[3], const double up[3]);
/* The HRTF set the binaural output uses when none is named: the MIT KEMAR measurement that
 * Debian's libmysofa1 installs. */
#define TONWELL_DEFAULT_HRTF_FILE "/usr/share/libmysofa/default.sofa"
/* [Control] Binaural output for a two-channel engine (on = 1): from the next block each ear
 * hears every mode through a measured head, the transfer at the listener's eye (the head's
 * centre) times that ear's head-related transfer function at the mode's frequency for the
 * object's direction in the head's frame. `sofa_file` is a SOFA file of convention
 * SimpleFreeFieldHRIR (read with libmysofa), or NULL for TONWELL_DEFAULT_HRTF_FILE. on = 0: the
 * stereo output at the two ear points again (sofa_file ignored). A file that cannot be used
 * fails with TONWELL_ERROR_FILE and a message naming it; the output is then unchanged. A mono
 * engine: TONWELL_ERROR_ARGUMENT. Waits for a render call under way before freeing a set it
 * replaces. */
int tonwell_engine_set_binaural(tonwell_engine* engine, int on, const char* sofa_file);
/* [Control] TONWELL_RENDERER_ZEP or TONWELL_RENDERER_MODAL (a stereo engine always uses ZEP). */
int tonwell_engine_set_renderer(tonwell_engine* engine, int renderer);
/* [Control] 1: the ZEP gains from the transfer evaluated in single precision, about half the cost
 * of a block of many objects, within 1e-4 of the double-precision gains; 0 (at start): double
 * precision, the demo's and tonwell-render's samples bit for bit. Binaural gains stay in double
 * precision. */
int tonwell_engine_set_single_precision_transfer(tonwell_engine* engine, int on);
/* [Control] Samples a strike's force acts: 1 .. 256. */
int tonwell_engine_set_impact_duration(tonwell_engine* engine, int samples);

/* [Render] Writes `frames` frames (frames * channels interleaved floats, clipped to +-1) of the
 * mix of every loaded object into `out`. Strikes, poses and settings given before the call take
 * effect at the start of the engine's next block (44100 / transfer rate frames); the samples do
 * not depend on how the host cuts its buffers. */
int tonwell_engine_render(tonwell_engine* engine, float* out, long frames);

/* [Control] Loads the scene folder `folder` (written by tonwell-bake: its presets.json, or one
 * of the built-in names bell, chair, dragon with their fixed presets) into the engine: mode
 * shapes, frequencies, acoustic transfer and the preset damping. Heard from the next block, at
 * the identity pose, gain 1, every mode active. */
int tonwell_object_load(tonwell_engine* engine, const char* folder, tonwell_object** object);
/* [Control] Takes the object out of the mix and frees it (waits for a render call under way). */
int tonwell_object_unload(tonwell_object* object);

/* [Control] Strikes 0-based mesh vertex `vertex` (OBJ vertex vertex + 1) with a force of
 * `magnitude` (the program's force units) along `direction` (the object's frame; normalised
 * here; zero for a silent strike). It sounds from the start of the next block. */
int tonwell_object_strike(tonwell_object* object, int vertex, const double direction[3],
                          double magnitude);
/* [Control] The same strike at a point of the surface: sum_k weights[k] P(vertices[k]) of a
 * triangle (0-based vertices with mode shapes; weights >= 0, summing to 1), such as a physics
 * engine's contact point in barycentric coordinates. The mode shapes are interpolated linearly
 * over the triangle; with the three corners the same vertex it is tonwell_object_strike there. */
int tonwell_object_strike_point(tonwell_object* object, const int vertices[3],
                                const double weights[3], const double direction[3],
                                double magnitude);
/* [Control] tonwell_object_strike_point with a force that acts for `samples` samples (1 .. 256)
 * instead of the engine's impact duration: a hard, short tap (a few samples) sounds bright, a
 * soft mallet's longer push (tens of samples) takes the high modes out. Strikes of different
 * durations may share a block; no force lasts beyond the block it starts in (44100 / transfer
 * rate frames, 147 at 300 Hz). */
int tonwell_object_strike_for(tonwell_object* object, const int vertices[3],
                              const double weights[3], const double direction[3], double magnitude,
                              int samples);
/* Kinds of moving contact. */
#define TONWELL_CONTACT_SCRAPE 0 /* a scrape or a slide: the rough profile read at the speed */
#define TONWELL_CONTACT_ROLL 1   /* a ball rolling: the profile smoothed by the ball, Hertzian */

/* [Control] Starts or moves the object's one moving contact, from the next block: the point
 * sum_k weights[k] P(vertices[k]) of a triangle (0-based vertices with mode shapes; weights
 * >= 0, summing to 1), the force acting along `direction` (the object's frame, usually the
 * surface normal; normalised here), the normal force `force` (the program's force units, as a
 * strike's magnitude), the tangential speed `speed` (m/s, 0 .. about 7), the roughness scale
 * `roughness` (the force's RMS fluctuation relative to `force`; tonwell_object_contact_roughness
 * gives the object's default),
 * the profile's spectral slope `slope` (0 .. 2; 1.5 by default) and, for a roll, the ball's
 * radius `ball_radius` (m, > 0). Call it as the contact moves (once per block or per frame):
 * the point, force and speed glide across each block from the previous call's values. The
 * force is F_N roughness g(x(t)), g the unit-RMS profile read along the path. */
int tonwell_object_contact(tonwell_object* object, int kind, const int vertices[3],
                           const double weights[3], const double direction[3], double force,
                           double speed, double roughness, double slope, double ball_radius);
/* [Control] The point of the object's surface nearest to `position` (the object's own frame, in
 * metres, as its mesh file gives it): the triangle's corners and barycentric weights, and the
 * triangle's outward unit normal, ready for tonwell_object_contact and
 * tonwell_object_strike_point. A host follows a path over the object by calling it once per
 * block or frame for the path's point at that time. Reads the scene's mesh on its first call
 * (TONWELL_ERROR_FILE naming it when it is missing or broken); then a search over all its
 * triangles, so once per block or frame, not per sample. */
int tonwell_object_surface_point(tonwell_object* object, const double position[3], int vertices[3],
                                 double weights[3], double normal[3]);
/* [Control] Lifts the moving contact: its sound fades out over the next block. */
int tonwell_object_contact_end(tonwell_object* object);
/* [Control] The object's pose: world = R p + T, R row by row (9 values). */
int tonwell_object_set_pose(tonwell_object* object, const double translation[3],
                            const double rotation[9]);
/* [Control] Multiplies the object's contribution to the mix (1 at load). */
int tonwell_object_set_gain(tonwell_object* object, double gain);
/* [Control] Rayleigh damping c_i = alpha + beta omega_i^2 of every mode (alpha in 1/s, beta in s);
 * refused (TONWELL_ERROR_ARGUMENT) when a mode would not be underdamped. */
int tonwell_object_set_damping(tonwell_object* object, double alpha, double beta);
/* [Control] Modes 0 .. count-1 sound (cut to the object's mode count). */
int tonwell_object_set_active_modes(tonwell_object* object, int count);
/* [Control] The object's mode count, the number of vertices that have a mode shape, and the
 * preset strike magnitude of its scene. */
int tonwell_object_mode_count(const tonwell_object* object, int* count);
int tonwell_object_vertex_count(const tonwell_object* object, int* count);
int tonwell_object_preset_magnitude(const tonwell_object* object, double* magnitude);
/* [Control] The object's default contact roughness: the one at which a scrape at 0.3 m/s pressing
 * with a strike's magnitude sounds about as loud as that strike (its first 100 ms), computed at
 * load from the modes, their damping and shapes and the transfer around the object. */
int tonwell_object_contact_roughness(const tonwell_object* object, double* roughness);
/* [Control] The modes' frequencies in Hz, as the scene's .freq file gives them (undamped), into
 * hz[0 .. min(capacity, mode count) - 1]; *count (if not null) receives the mode count. */
int tonwell_object_frequencies(const tonwell_object* object, double* hz, int capacity,
                               int* count);
/* [Control] Whether the render thread measures each mode's level at the listener from its next
 * block on (off at load: it costs a little per block). */
int tonwell_object_watch_levels(tonwell_object* object, int on);
/* [Control] The newest levels the render thread measured while watched: per mode the level of
 * its contribution at the listener, 10 log10(|z|^2 g^2) in dB (z the resonator's complex state,
 * g its gain at the listener; in stereo the mean of the ears' g^2), never below -200 dB, into
 * levels_db[0 .. min(capacity, *count) - 1]. *count receives the number of modes measured: 0
 * before the first measured block. */
int tonwell_object_levels(tonwell_object* object, double* levels_db, int capacity, int* count);

#ifdef __cplusplus
}
#endif

#endif /* TONWELL_H */
