/* Output files that appear whole or not at all, shared by every format the
 * host library writes (PNG, movie, scene).
 *
 * A target names a regular file, new or existing, or a symbolic link to
 * one: the contents go to the file the link names and the link stays. The
 * data is written to a temporary file in the target's directory, named
 * ".zk" and 8 random letters and digits, short so that any name the file
 * system accepts works, and renamed over the target at the end. The
 * temporary file has the target's owner (where allowed) and permission
 * bits from the start, so nobody can read it who could not read the
 * target; a new file gets 0666 less the umask. While written, the owner may
 * also read and write it. An existing target is replaced only after the
 * new data has reached the disk. Devices, FIFOs, sockets, directories and
 * names ending in '/' are refused and left as they are.
 *
 * Temporary files still open are removed when the process is stopped by
 * SIGINT, SIGTERM or SIGHUP, which then ends it as the signal would have.
 * SIGXFSZ is ignored (where it has its default action), so that a file past
 * the size limit fails with "File too large" instead of ending the
 * process. Only SIGKILL or a crash can leave a temporary file behind. */
#ifndef ZELKORI_OUTPUT_FILE_H
#define ZELKORI_OUTPUT_FILE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default)

typedef struct zk_output zk_output;

/* Checks that `path` can be written, creating nothing. Returns 0 and sets
 * *error to one line (valid until this thread's next call) when it cannot:
 * "no such directory", "is a directory", "not a regular file", errno's
 * text. */
int zk_output_check(const char *path, const char **error);

/* Creates the temporary file for `path`. Returns NULL and sets *error as
 * zk_output_check does. */
zk_output *zk_output_open(const char *path, const char **error);

/* The temporary file, open for writing, and its name for libraries that
 * open files by name themselves. */
int zk_output_fd(const zk_output *output);
const char *zk_output_temporary(const zk_output *output);

/* Closes the temporary file and renames it over the target, flushing the
 * data to the disk first when it replaces a file. Frees
 * `output` either way; on failure the temporary file is removed, the
 * target is untouched, and 0 is returned with *error set. */
int zk_output_commit(zk_output *output, const char **error);

/* Flushes to the disk, once each, the directories that took a file from
 * zk_output_commit since the last call, so that the new names survive a
 * crash: for the end of a run. Returns 0 when one cannot be, with
 * *directory and *error set (valid until this thread's next call); the
 * others are flushed all the same. */
int zk_output_sync_dirs(const char **directory, const char **error);

/* Removes the temporary file and frees `output`. NULL is allowed. */
void zk_output_abort(zk_output *output);

/* The whole of a file in one call: opens, writes `size` bytes from `data`
 * and commits, or leaves the target as it was. Returns 0 with *error set
 * as the calls above do. */
int zk_output_write(const char *path, const void *data, size_t size, const char **error);

/* errno's text for `error` ("No space left on device"), static and the
 * same in every thread and locale. */
const char *zk_errno_text(int error);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
