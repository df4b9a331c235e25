// The movie writer as the format table names it: the movie module
// (movie_module.h), loaded from beside this library on first use.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <cstring>
#include <mutex>
#include <string>

#include "output/movie/movie_module.h"
#include "output/writers.h"

namespace zelkori {
namespace {

std::string find_library_directory() {
    Dl_info self;
    if (dladdr(reinterpret_cast<void *>(&find_library_directory), &self) == 0 ||
        self.dli_fname == nullptr || std::strchr(self.dli_fname, '/') == nullptr) {
        return "";
    }
    char resolved[PATH_MAX];
    const std::string library = realpath(self.dli_fname, resolved) != nullptr ? resolved
                                                                              : self.dli_fname;
    return library.substr(0, library.rfind('/') + 1);
}

// Found when the library is loaded: the name the loader was given may be
// relative, and the process may change its directory before the first
// movie or page.
const std::string kLibraryDirectory = find_library_directory();

// The module's entry, loaded once.
ZelkoriOpenMovie movie_entry(std::string *error) {
    static std::once_flag once;
    static ZelkoriOpenMovie entry = nullptr;
    static std::string failure;
    std::call_once(once, [] {
        const std::string path = kLibraryDirectory + ZELKORI_MOVIE_MODULE;
        void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module != nullptr) {
            entry = reinterpret_cast<ZelkoriOpenMovie>(dlsym(module, ZELKORI_MOVIE_ENTRY));
        }
        if (entry == nullptr) {
            const char *why = dlerror();
            failure = std::string("cannot load the movie encoder: ") +
                      (why != nullptr ? why : path.c_str());
        }
    });
    if (entry == nullptr) {
        *error = failure;
    }
    return entry;
}

}  // namespace

const std::string &library_directory() { return kLibraryDirectory; }

WriterPtr open_movie(const OpenRequest &request, const FrameReader &reader, Failure *failure) {
    const ZelkoriOpenMovie open = movie_entry(&failure->cause);
    return open != nullptr ? WriterPtr(open(&request, &reader, failure)) : nullptr;
}

}  // namespace zelkori
