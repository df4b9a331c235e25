/* The host library's core, for host applications and the Tcl face: the
 * controls a plug-in declares, the animation clock, where frames are drawn
 * (an offscreen context or a window's) and how they are finished. All host
 * state lives behind these calls. */
#ifndef ZELKORI_PUBLIC_CORE_H
#define ZELKORI_PUBLIC_CORE_H

#include <tcl.h>

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

/* Notes the zoom and shift zelkori::frame last applied around the
 * plug-in's projection: what a web page written later opens on. */
void zk_view_note(double zoom, double x, double y);

/* Counters of what the primitives drew since the last reset. */
typedef struct zk_stats {
    long long spheres, cylinders, triangles;
} zk_stats;
void zk_stats_get(zk_stats *out);
void zk_stats_reset(void);

/* Sides, in pixels, that any frame may have: the offscreen framebuffer's
 * limit, and every format's at most. */
#define ZK_MAX_SIDE 16384

/* Offscreen rendering: an EGL context on Mesa's surfaceless platform with
 * a width x height framebuffer object, made current. Creating again
 * resizes. Returns 0 and fills error (static text) when none can be made;
 * a context that was there stays current and as it was. */
int zk_offscreen_create(int width, int height, const char **error);
/* The same with its frames drawn at `samples` samples a pixel (as
 * zk_frame_target, which it also does); returns the samples used, or 0
 * with *error, the context that was there as it was. */
int zk_offscreen_create_sampled(int width, int height, int samples, const char **error);
void zk_offscreen_destroy(void);

/* Where frames are drawn and how they are finished, for the current
 * context (the offscreen one or a window's). zk_frame_target makes the
 * plug-in draw, from now on, into a framebuffer of the host's with
 * `samples` samples a pixel, at most what the context allows (more are
 * taken as that many), of width x height (the offscreen framebuffer's
 * size for the offscreen context); for a window the frame is resolved
 * into its back buffer. One sample draws straight into the offscreen
 * framebuffer or the back buffer, as before any call, except in a window
 * when a background colour is set (set it first): a framebuffer with
 * alpha is needed to lay it by. Call it again after the offscreen context
 * is created again and when the window's size changes. Returns the
 * samples used, or 0 with *error (static text), leaving the target as it
 * was. zk_frame_finish resolves the samples, puts the background under
 * the figure and, for a window, copies the frame to the back buffer: call
 * it before swapping; every read of the frame (writers, saves) calls it
 * first. Finishing twice gives the same frame. */
#define ZK_DEFAULT_SAMPLES 4
int zk_frame_target(int width, int height, int samples, const char **error);
void zk_frame_finish(void);
/* The size of the frame a save reads: the viewport's, clipped to what is
 * being drawn to (the offscreen framebuffer or the window), so that no
 * pixel outside what was drawn is ever read. Returns 0 when no OpenGL
 * context is current. */
int zk_frame_size(int *width, int *height);

/* The background: red, green and blue from 0 to 1 (black at start), or
 * transparent: the frame's alpha is kept (0 where nothing is drawn), and
 * outputs that carry alpha store it unassociated. The plug-in clears to
 * transparent black, which this relies on. */
void zk_background_set(double red, double green, double blue, int transparent);
/* The background's colour into rgb; returns 1 when it is transparent. */
int zk_background_get(double rgb[3]);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
