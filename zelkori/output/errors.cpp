#include "output/errors.h"

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

namespace {

const size_t kLongName = 160;              // bytes; longer names are cut
const size_t kHead = 60, kTail = 80;       // bytes kept at each end

// Moves `at` back to the start of a UTF-8 character.
size_t char_start(const std::string &text, size_t at) {
    while (at > 0 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) {
        --at;
    }
    return at;
}

}  // namespace

// A name too long for one line keeps its start and its end; a control
// character in it (a newline) is shown as ?, as ls does.
std::string write_error(const std::string &file, const std::string &cause) {
    std::string name = file;
    if (name.size() > kLongName) {
        const size_t head = char_start(name, kHead);
        const size_t tail = char_start(name, name.size() - kTail);
        name = name.substr(0, head) + "..." + name.substr(tail);
    }
    for (char &c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            c = '?';
        }
    }
    return "cannot write \"" + name + "\": " + cause;
}

}  // namespace zelkori
