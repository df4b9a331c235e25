/* The host library's outputs, for host applications and the Tcl face:
 * the table of formats, writers that write every format, background saves
 * of stills, frames from elsewhere than the current OpenGL context, and
 * the files they write, which appear whole or not at all. */
#ifndef ZELKORI_PUBLIC_OUTPUT_H
#define ZELKORI_PUBLIC_OUTPUT_H

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default)

/* Errors. Every call here that can fail returns 0 (or NULL) and sets
 * *error to one line, valid until the same thread's next failing call; a
 * NULL error pointer is allowed. Writers' errors name the file:
 * `cannot write "FILE": cause`. */

/* PNG levels: 0-9, zlib's level through libpng (others read as the
 * default), or ZK_PNG_FAST: PNG's Up filter and ISA-L's deflate at its
 * level 1, made for image sequences. */
#define ZK_PNG_FAST (-1)
/* A writer's level not given: the format's default_level, and the only
 * value formats that take no level take. */
#define ZK_PNG_LEVEL_UNSET (-2)

/* Writes the current frame to `path` as a still image of its format
 * (PNG, JPEG) through a still's writer (zk_writer_open, add, close),
 * named `name` in messages; `level` ZK_PNG_LEVEL_UNSET but for PNG. */
int zk_save_frame(const char *path, const char *name, int level, const char **error);

/* A scene's lights: for web viewers at their defaults (three.js at
 * exposure 1), in Blender's studio levels (its importer's default
 * conversion), or none. */
enum { ZK_LIGHTS_WEB, ZK_LIGHTS_BLENDER, ZK_LIGHTS_NONE };

/* The formats, one table: what a file name's extension makes of it, and
 * each format's limits and defaults. */
enum {
    ZK_KIND_STILL,     /* one image */
    ZK_KIND_SEQUENCE,  /* one image a frame */
    ZK_KIND_MOVIE,
    ZK_KIND_SCENE,
    ZK_KIND_PAGE       /* a web page that draws the figure live */
};
/* What a row's names look like, and what its files allow. */
enum {
    ZK_FORMAT_PATTERN = 1,  /* the name holds a number field: one file a frame */
    ZK_FORMAT_STDOUT = 2,   /* written to standard output, named "-" */
    ZK_FORMAT_JOINABLE = 4, /* movies rendered in slices join into one (morvakine-join) */
    ZK_FORMAT_TEXT = 8,     /* written as text: a scene as JSON, its buffer embedded */
    ZK_FORMAT_ALPHA = 16    /* keeps the frame's alpha (zk_writer_params.alpha) */
};
struct zk_format_writer;  /* a row's writer: its open function (output/writers.h) */
struct zk_container;      /* a movie's muxer and codecs (output/movie/codecs.h) */
typedef struct zk_format {
    const char *name;       /* short name: "png", "mp4", ... */
    const char *extension;  /* ".png"; "-" for standard output */
    const char *alias;      /* another extension it is known by (".jpeg"), or NULL */
    int kind;
    int flags;              /* ZK_FORMAT_... */
    const char *summary;    /* one line on what it writes */
    int max_side;           /* width and height, pixels */
    long long max_pixels;   /* width times height */
    double min_fps;         /* rates: above 0 and at least this */
    double max_fps;         /* ... and at most this (HUGE_VAL: no limit) */
    long long max_frames;
    int takes_quality;      /* whether quality changes the file */
    int max_quality;        /* quality runs from 0 to this */
    int default_quality;
    int takes_level;        /* whether a PNG level (0-9, ZK_PNG_FAST) changes the file */
    int default_level;      /* the level when none is given */
    int drawn_level;        /* the level for frames written as they are drawn
                               (the renderer's, a recording's) */
    double default_fps;
    const struct zk_format_writer *writer;
    const struct zk_container *container;  /* movies; NULL for the others */
} zk_format;
int zk_format_count(void);
const zk_format *zk_format_at(int index);
/* The name of the index-th codec a movie format holds ("h264", "hevc",
 * ...; 0 its default); NULL past the last and for formats without one. */
const char *zk_format_codec(const zk_format *format, int index);
/* A movie format's container as FFmpeg writes it: the muxer's name, its
 * options (key=value;...) and the option that takes the stream's ticks a
 * second (NULL: none). Returns 0 for a format that is no movie. */
int zk_format_muxer(const zk_format *format, const char **muxer, const char **options,
                    const char **timescale_key);
/* The format `path` names by its extension (or alias), case aside: of the rows with
 * that extension, a name with a printf number field (%d, %04d, ...; %% is
 * a percent sign) takes the one with ZK_FORMAT_PATTERN where there is
 * one, any other name the one without; "-" is the ZK_FORMAT_STDOUT row.
 * NULL, with *error, for anything else. */
const zk_format *zk_format_of(const char *path, const char **error);

/* Outputs: every format is written through these calls. A writer is
 * opened on a target with its parameters, gets frames, and is closed (the
 * file appears, whole) or aborted (nothing is left). */
typedef struct zk_writer zk_writer;
typedef struct zk_writer_params {
    int width, height;  /* 0: the current frame's size when opened */
    double fps;         /* NaN: the format's default */
    int quality;        /* -1: the format's default */
    int level;          /* PNG: zlib's 0-9, ZK_PNG_FAST or ZK_PNG_LEVEL_UNSET */
    long long first;    /* the first frame's number: a sequence's first
                           file, a movie's first timestamp */
    long long frames;   /* frames to come; 0 when not known (a scene
                           must know) */
    const char *name;   /* the file as messages name it; NULL: the path */
    int lights;         /* a scene's, ZK_LIGHTS_*; -1: ZK_LIGHTS_WEB, and
                           the only value other formats take */
    int pictures;       /* a scene's: 1 the primitives draw while recorded,
                           so that other outputs get pictures; 0 they only
                           record (a scene that is the only output); -1: 1,
                           and the only value other formats take */
    const char *tag;    /* a movie's: what its frames show, as the caller
                           words it, added to the "rendered-with" tag that
                           says how it was encoded (so that slices of
                           other pictures do not join); up to ZK_TAG_MAX
                           bytes, no control characters; NULL or "": none,
                           and the only value other formats take */
    const char *codec;  /* a movie's codec, one zk_format_codec names;
                           NULL or "": the format's default, and the only
                           value other formats take */
    int alpha;          /* 1: the frame's alpha is kept, unassociated
                           (formats with ZK_FORMAT_ALPHA only); 0: the
                           frame is stored opaque; -1: kept where the
                           format can and the background is transparent */
} zk_writer_params;
#define ZK_TAG_MAX 4096
void zk_writer_params_init(zk_writer_params *params);

/* Which parameter a check or an open refused; ZK_FIELD_TARGET (an open's
 * only): the file the name makes, which cannot be written (no such
 * directory, a directory, not a regular file, standard output closed). */
enum { ZK_FIELD_NAME = 1, ZK_FIELD_SIZE, ZK_FIELD_FPS, ZK_FIELD_FRAMES,
       ZK_FIELD_QUALITY, ZK_FIELD_FIRST, ZK_FIELD_LEVEL, ZK_FIELD_LIGHTS,
       ZK_FIELD_PICTURES, ZK_FIELD_TAG, ZK_FIELD_CODEC, ZK_FIELD_ALPHA,
       ZK_FIELD_TARGET };
/* Checks a target and its parameters against the format's limits,
 * touching nothing: the checks zk_writer_open makes before anything else.
 * Returns 0 with *error (which says what is wrong, naming no option) and
 * *field. On success *format is the target's format and *target the first
 * file written (a sequence's first name), valid until the next call. */
int zk_writer_check(const char *path, const zk_writer_params *params,
                    const zk_format **format, const char **target,
                    int *field, const char **error);
/* The number field of a name such as "out/f%05d.png": *before and *after
 * the name around it (%% read as a percent sign), *field the field as
 * printf writes an int ("%05d"), valid until the next call. Returns 0,
 * with *error, for a name that holds not exactly one field. */
int zk_sequence_field(const char *path, const char **before, const char **field,
                      const char **after, const char **error);
zk_writer *zk_writer_open(const char *path, const zk_writer_params *params,
                          const char **error);
/* Reads the current frame (zk_frame_size's area) and hands it on. */
int zk_writer_add(zk_writer *writer, const char **error);
/* Adds one frame to each of `count` writers, reading it back once: the
 * first read's pixels go to every writer that reads a frame of that size
 * (nothing draws in between). Every writer is given the frame; the first
 * failure is the one returned. */
int zk_writers_add(zk_writer *const *writers, int count, const char **error);
/* Finishes the output; frees the writer either way. An output that got
 * no frame fails and leaves nothing. */
int zk_writer_close(zk_writer *writer, const char **error);
/* Stops the output, leaving nothing unfinished; frees the writer. NULL is
 * allowed. */
void zk_writer_abort(zk_writer *writer);
/* Frames added so far. */
long long zk_writer_frames(const zk_writer *writer);
/* Frames per second: as opened, or the format's default. */
double zk_writer_fps(const zk_writer *writer);

/* Background saves: a queue of still PNG files of its own, written by its
 * threads. A save reads the current frame at the call and waits only
 * while the queue is full; it fails then for a target or parameters the
 * table refuses and for a frame that cannot be read, and for nothing
 * else. What happens to a save in the background is reported by the next
 * zk_save_queue_wait or zk_save_queue_free, and by nothing else: no output
 * sees it, and a failed save stops no other. */
typedef struct zk_save_queue zk_save_queue;
/* NULL when there is no memory for one. */
zk_save_queue *zk_save_queue_new(void);
/* Queues the current frame for `path`; params->level and params->name
 * are used. */
int zk_save_queue_add(zk_save_queue *queue, const char *path, const zk_writer_params *params,
                      const char **error);
/* Waits until every queued file is written or has failed, flushes their
 * directories, and fails with the first failure since the last wait (and
 * how many more there were), which it then forgets. */
int zk_save_queue_wait(zk_save_queue *queue, const char **error);
/* Waits as zk_save_queue_wait does, then stops the threads and frees the
 * queue. NULL is allowed. */
int zk_save_queue_free(zk_save_queue *queue, const char **error);

/* Frames from elsewhere than the current OpenGL context, for a host that
 * renders by other means and for tests: size() gives the next frame's
 * size and returns 0 when there is none; read() fills width * height * 4
 * bytes with RGBA rows, bottom row first, and returns 0 when it cannot. A
 * source is called on the thread that adds frames, and must last as long
 * as what reads from it. */
typedef struct zk_frame_source {
    int (*size)(void *data, int *width, int *height);
    int (*read)(void *data, int width, int height, unsigned char *rgba);
    void *data;
} zk_frame_source;
/* zk_writer_open and zk_save_queue_new with frames from `source`. */
zk_writer *zk_writer_open_from(const char *path, const zk_writer_params *params,
                               const zk_frame_source *source, const char **error);
/* zk_writer_open(_from), saying what it refused (`source` NULL: the
 * current OpenGL context's frames): *field is the parameter, with *error
 * worded as zk_writer_check's, naming no file; or ZK_FIELD_TARGET, or 0
 * for any other failure, with *error naming the file as writers' do. The
 * one judgement of a target: nothing need check it first. */
zk_writer *zk_writer_open_field(const char *path, const zk_writer_params *params,
                                const zk_frame_source *source, int *field, const char **error);
zk_save_queue *zk_save_queue_new_from(const zk_frame_source *source);

/* `cannot write "NAME": cause`, valid until this thread's next failure. */
const char *zk_write_error(const char *name, const char *cause);

/* Safe files: what every writer writes through, for a program that writes
 * a file of its own the same way (morvakine-join). A target names a
 * regular file, new or existing, or a symbolic link to one: the contents
 * go to the file the link names and the link stays. The data is written
 * to a file with no name in the target's directory (O_TMPFILE), flushed
 * to the disk when whole and only then linked under the target's name;
 * where a file is there, the new one is linked under a hidden name and
 * renamed over it in one step. Where the file system has no such files,
 * the temporary file is named ".zk" and 8 random letters and digits from
 * the start. The temporary file has the target's owner (where allowed)
 * and permission bits from the start, so nobody can read it who could not
 * read the target; a new file gets 0666 less the umask. While written,
 * the owner may also read and write it. Devices, FIFOs, sockets,
 * directories and names ending in '/' are refused and left as they are.
 *
 * Named temporary files still there are removed when the process is
 * stopped by SIGINT, SIGTERM or SIGHUP, which then ends it as the signal
 * would have. SIGXFSZ is ignored (where it has its default action), so
 * that a file past the size limit fails with "File too large" instead of
 * ending the process. A file with no name goes with the process however
 * it ends; SIGKILL or a crash can leave a named one behind (the fallback,
 * or a kill between the link and the rename). */
typedef struct zk_output zk_output;

/* Checks that `path` can be written, creating nothing. Returns 0 and sets
 * *error to one line (valid until this thread's next call) when it cannot:
 * "no such directory", "is a directory", "not a regular file", errno's
 * text. */
int zk_output_check(const char *path, const char **error);

/* Creates the temporary file for `path`. Returns NULL and sets *error as
 * zk_output_check does. */
zk_output *zk_output_open(const char *path, const char **error);

/* The temporary file's name, for libraries that open files by name
 * themselves (/proc/self/fd/N for a file with no name). */
const char *zk_output_temporary(const zk_output *output);

/* Flushes the data to the disk, closes the temporary file and puts it in
 * place under the target's name, then flushes the directory so that the
 * name lasts. Frees `output` either way; returns 0 with *error set when
 * it fails: before the file is in place the temporary file is removed and
 * the target untouched; a directory that cannot be flushed fails it with
 * the new file in place. */
int zk_output_commit(zk_output *output, const char **error);

/* Removes the temporary file and frees `output`. NULL is allowed. */
void zk_output_abort(zk_output *output);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
