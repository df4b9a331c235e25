/* What each movie format can hold, as data: one row per format, so that a
 * table of outputs, the renderer and --help read the limits from here and
 * check them before anything is drawn. The movie calls themselves are in
 * zelkori_host.h; zk_movie_open and zk_movie_add_frame refuse the same. */
#ifndef ZELKORI_MOVIE_WRITER_H
#define ZELKORI_MOVIE_WRITER_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default)

typedef struct zk_movie_limits {
    const char *name;       /* "mp4" */
    const char *extension;  /* ".mp4" */
    const char *codec;      /* FFmpeg's encoder */
    const char *pixels;     /* FFmpeg's name for what the encoder is fed */
    int even_size;          /* an odd width or height is padded by one pixel */
    int max_side;           /* widest and tallest frame */
    long long max_pixels;   /* width times height */
    double min_fps, max_fps;
    long long max_frames;
} zk_movie_limits;

/* The row of `format` (as zk_movie_format numbers them), or NULL. */
const zk_movie_limits *zk_movie_limits_of(int format);

/* 1 when a movie of width x height frames at fps, holding `frames` frames
 * (0 when not known yet), fits `format`. Otherwise 0, with one line naming
 * the limit in message (size bytes, 256 is enough). */
int zk_movie_check(int format, int width, int height, double fps, long long frames,
                   char *message, size_t size);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
