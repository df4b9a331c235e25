/* Inside the library: the parts of safe files (zk_output_* in
 * zelkori/output.h) that only its writers use. Exported all the same, for
 * the movie module loaded beside the library. A writer that collects its
 * directories (directories.h) has zk_output_commit flush them once, when
 * it closes, instead of at each commit. */
#ifndef ZELKORI_OUTPUT_FILE_H
#define ZELKORI_OUTPUT_FILE_H

#include <stddef.h>

#include "zelkori/output.h"

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default)

/* The temporary file, open for writing. */
int zk_output_fd(const zk_output *output);

/* The file the output replaces, absolute, links followed: scratch files
 * go beside it. */
const char *zk_output_target(const zk_output *output);

/* The whole of a file in one call: opens, writes `size` bytes from `data`
 * and commits, or leaves the target as it was. Returns 0 with *error set
 * as zk_output_commit does. */
int zk_output_write(const char *path, const void *data, size_t size, const char **error);

/* errno's text for `error` ("No space left on device"), static and the
 * same in every thread and locale. */
const char *zk_errno_text(int error);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
