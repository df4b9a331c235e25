// The one place where the host library words and keeps its failures: the C
// interface hands out one line, valid until the same thread's next failure.
#ifndef ZELKORI_ERRORS_H
#define ZELKORI_ERRORS_H

#include <string>

namespace zelkori {

// Keeps `message` for the caller and sets *error to it (error may be
// NULL). Returns 0, for `return fail(...)` in the C interface.
int fail(const std::string &message, const char **error);

// A file that could not be written: `cannot write "FILE": cause`, a name
// too long for one line cut in its middle.
std::string write_error(const std::string &file, const std::string &cause);

}  // namespace zelkori

#endif
