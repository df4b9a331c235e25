/* The host side of the stand-in host library: what host applications, the
 * Tcl face and tests use beyond the plug-in's nine operations. All host
 * state (controls, clock, meshes, offscreen context, counters) lives behind
 * these calls. */
#ifndef ZELKORI_ZELKORI_HOST_H
#define ZELKORI_ZELKORI_HOST_H

#include <stddef.h>
#include <tcl.h>

#include "host/zelkori.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Exported even from a build that hides everything else. */
#pragma GCC visibility push(default)

typedef struct zk_control {
    int id;
    int is_checkbox;
    const char *label;
    double low, high, step, initial;
    double value;
} zk_control;

/* Called once for each control declared for the first time. */
typedef void (*zk_declare_listener)(Tcl_Interp *interp, int id);
void zk_set_declare_listener(zk_declare_listener listener);

/* Controls in declaration order. Returns 0 when index is out of range. */
int zk_control_count(void);
int zk_control_at(int index, zk_control *out);
/* Looks a control up by id or label; returns 0 when there is none. */
int zk_control_by_id(int id, zk_control *out);
int zk_control_by_label(const char *label, zk_control *out);
/* Sets a control's value, clamped to a slider's range (a check box stores
 * 0 or 1). Returns 0 for an id never declared or a non-finite value. */
int zk_control_set(int id, double value);
/* Forgets every control. */
void zk_controls_clear(void);

/* The animation clock, in seconds. Paused at 0 until told otherwise. */
void zk_clock_set(double seconds);
void zk_clock_play(int playing);
int zk_clock_playing(void);
/* Rate of the clock against real time; must be finite and positive. */
int zk_clock_set_speed(double speed);
double zk_clock_speed(void);

/* Counters of what the primitives drew since the last reset. */
typedef struct zk_stats {
    long long spheres, cylinders, triangles;
} zk_stats;
void zk_stats_get(zk_stats *out);
void zk_stats_reset(void);

/* Offscreen rendering: an EGL context on Mesa's surfaceless platform with
 * a width x height framebuffer object, made current. Creating again
 * resizes. Returns 0 and fills error (static text) when none can be made;
 * a context that was there stays current and as it was. */
int zk_offscreen_create(int width, int height, const char **error);
void zk_offscreen_destroy(void);

/* The size of the frame a save reads: the viewport's, clipped to what is
 * being drawn to (the offscreen framebuffer or the window), so that no
 * pixel outside what was drawn is ever read. Returns 0 when no OpenGL
 * context is current. */
int zk_frame_size(int *width, int *height);

/* Reads the current read buffer's colour (RGB, top row first) of the
 * viewport-sized area at the origin. */
int zk_read_frame(int width, int height, unsigned char *rgb);

/* Writes rgb (top row first) as a PNG through a temporary file in the same
 * directory renamed into place, so no half-written file is ever seen.
 * level: 0-9, zlib's level through libpng (others read as 6), or
 * ZK_PNG_FAST: PNG's Up filter and ISA-L's deflate at its level 1, made
 * for image sequences. Returns 0 and fills error (static text) on failure. */
#define ZK_PNG_FAST (-1)
int zk_write_png(const char *path, int width, int height,
                 const unsigned char *rgb, int level, const char **error);

/* Encodes rgb as a PNG in memory: *data, *size bytes, freed with free().
 * Returns 0 and fills error on failure. */
int zk_encode_png(int width, int height, const unsigned char *rgb, int level,
                  unsigned char **data, size_t *size, const char **error);

/* The same for the current frame (as zk_read_frame reads it), in the
 * background: the frame is read now and encoded by a pool of threads fed
 * through a bounded queue; waits only while the queue is full. Returns 1
 * when queued, -1 when the frame cannot be read, -2 when there is no
 * memory or thread for it, and 0 when an earlier file has failed: what was
 * still queued is then dropped, and every save is refused until
 * zk_save_wait reports the failure. */
int zk_save_frame_async(const char *path, int width, int height, int level);
/* Waits until every queued file is written or dropped. Returns 0 when one
 * failed, with the first failure's path and reason (valid until the next
 * call), and forgets the failure. */
int zk_save_wait(const char **path, const char **error);
/* Finishes the queue and stops the threads; the next save starts them. */
void zk_save_shutdown(void);

/* Scene capture. From zk_capture_start to zk_capture_stop the sphere and
 * cylinder primitives record what they are asked to draw instead of drawing
 * it: the primitive, its sizes, the diffuse colour and the model-view
 * matrix, and at the first one the projection and viewport. Primitives
 * without a current GL context are not recorded. zk_capture_frame begins
 * the next frame (animation sample); zk_capture_start begins the first and
 * forgets any earlier capture. */
typedef struct zk_primitive {
    int kind;  /* 0 sphere, 1 cylinder */
    int frame;
    /* Sphere: radius. Cylinder: length, radius at z = 0, at z = length. */
    double size[3];
    float color[3];
    double modelview[16]; /* column-major, as GL gives it */
} zk_primitive;
void zk_capture_start(void);
void zk_capture_frame(void);
void zk_capture_stop(void);
/* The primitives of the last capture, in draw order. */
int zk_capture_count(void);
int zk_capture_at(int index, zk_primitive *out);

/* Writes the last capture as a glTF 2.0 scene through zelkori/output_file.h:
 * JSON with the buffer embedded when `path` ends in ".gltf", binary glTF
 * otherwise. One frame gives a still scene; more give one animation with
 * frame k at k / fps seconds. Every frame must draw the same primitives in
 * the same order. Returns 0 and fills error (valid until the next call)
 * on failure, leaving no file behind. */
int zk_scene_write(const char *path, double fps, const char **error);

/* Movies, one at a time, written through a temporary file like PNGs:
 * MP4 (H.264), WebM (VP9), GIF (one palette for the whole animation,
 * looping) and animated PNG (lossless, looping). Frames are encoded on a
 * background thread while the caller draws the next ones. Calls that fail
 * return 0 and set *error to one line, valid until the next movie call. */
#define ZK_MOVIE_DEFAULT_QUALITY 50
/* The format a file name's extension names (case aside), or -1. */
int zk_movie_format(const char *path);
/* The format's short name ("mp4", "webm", "gif", "apng"), or NULL. */
const char *zk_movie_format_name(int format);
/* Starts a movie of width x height frames shown fps times a second.
 * quality runs from 0 to 100, -1 for ZK_MOVIE_DEFAULT_QUALITY. The first
 * frame is stamped first / fps seconds (first >= 0), so that movies made
 * in slices join into one without encoding again. */
int zk_movie_open(const char *path, int format, int width, int height,
                  double fps, int quality, long long first, const char **error);
/* Reads the current frame (as zk_read_frame does, at the movie's size) and
 * queues it; waits only while the queue is full. A failure on an earlier
 * frame is reported here; closing or aborting then removes what was
 * written. */
int zk_movie_add_frame(const char **error);
/* Encodes what is queued, ends the file and renames it into place. The
 * movie is closed either way; on failure nothing is left behind. */
int zk_movie_close(const char **error);
/* Stops the movie and removes its temporary file. */
void zk_movie_abort(void);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
