/* Output files that appear whole or not at all, shared by every format the
 * host library writes (PNG, movie, scene).
 *
 * A target names a regular file, new or existing, or a symbolic link to
 * one: the contents go to the file the link names and the link stays. The
 * data is written to a file with no name in the target's directory
 * (O_TMPFILE), flushed to the disk when whole and only then linked under
 * the target's name; where a file is there, the new one is linked under a
 * hidden name and renamed over it in one step. Where the file system has
 * no such files, the temporary file is named ".zk" and 8 random letters
 * and digits from the start. The temporary file has the target's owner
 * (where allowed) and permission bits from the start, so nobody can read
 * it who could not read the target; a new file gets 0666 less the umask.
 * While written, the owner may also read and write it. Devices, FIFOs,
 * sockets, directories and names ending in '/' are refused and left as
 * they are.
 *
 * Named temporary files still there are removed when the process is
 * stopped by SIGINT, SIGTERM or SIGHUP, which then ends it as the signal
 * would have. SIGXFSZ is ignored (where it has its default action), so
 * that a file past the size limit fails with "File too large" instead of
 * ending the process. A file with no name goes with the process however it
 * ends; SIGKILL or a crash can leave a named one behind (the fallback, or
 * a kill between the link and the rename). */
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
 * open files by name themselves (/proc/self/fd/N for a file with no name). */
int zk_output_fd(const zk_output *output);
const char *zk_output_temporary(const zk_output *output);

/* The file the output replaces, absolute, links followed: scratch files
 * go beside it. */
const char *zk_output_target(const zk_output *output);

/* Flushes the data to the disk, closes the temporary file and puts it in
 * place under the target's name, then flushes the directory so that the
 * name lasts (an output that collects its directories flushes them once,
 * when it closes). Frees `output` either way; returns 0 with *error set
 * when it fails: before the file is in place the temporary file is
 * removed and the target untouched; a directory that cannot be flushed
 * fails it with the new file in place. */
int zk_output_commit(zk_output *output, const char **error);

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
