#include "errors.h"

#include <exception>

namespace zelkori {

int fail(const std::string &message, const char **error) {
    static thread_local std::string kept;
    try {
        kept = message;
    } catch (const std::exception &) {  // called from C
        kept.clear();
    }
    if (error != nullptr) {
        *error = kept.empty() ? "not enough memory" : kept.c_str();
    }
    return 0;
}

std::string write_error(const std::string &file, const std::string &cause) {
    return "cannot write \"" + file + "\": " + cause;
}

}  // namespace zelkori
