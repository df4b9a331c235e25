/* Output files that appear whole or not at all, shared by every format the
 * host library writes (PNG, movie, scene).
 *
 * A target names a regular file, new or existing, or a symbolic link to
 * one: the contents go to the file the link names and the link stays. The
 * data is written to a temporary file in the target's directory, with a
 * short name so that any name the file system accepts works, and renamed
 * over the target at the end, keeping an existing target's permission bits
 * (and owner where allowed); a new file gets 0666 less the umask. Devices,
 * FIFOs, sockets, directories and names ending in '/' are refused and left
 * as they are. Temporary files still open are removed when the process is
 * stopped by SIGINT, SIGTERM or SIGHUP, which then ends it as the signal
 * would have. */
#ifndef ZELKORI_OUTPUT_FILE_H
#define ZELKORI_OUTPUT_FILE_H

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

/* Closes the temporary file and renames it over the target. Frees
 * `output` either way; on failure the temporary file is removed, the
 * target is untouched, and 0 is returned with *error set. */
int zk_output_commit(zk_output *output, const char **error);

/* Removes the temporary file and frees `output`. NULL is allowed. */
void zk_output_abort(zk_output *output);

/* errno's text for `error` ("No space left on device"), static and the
 * same in every thread and locale. */
const char *zk_errno_text(int error);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
