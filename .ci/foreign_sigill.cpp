// A CPU on which valgrind cannot run FFmpeg, for .ci/memcheck.sh
// (MORVAKINE_VALGRIND_PROBE=sigill): some of FFmpeg's dependencies run, as
// they load, an instruction that valgrind does not decode on such a CPU.
// Preloaded, this library stands in for them: under valgrind, once
// libavcodec is in the process (at start, or after a dlopen), a library
// that is not ours is loaded and its initialiser runs an undefined
// opcode. Outside valgrind nothing happens.
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <link.h>
#include <valgrind/valgrind.h>

#ifdef FOREIGN_INITIALISER
// The library with the instruction, loaded by the one below.
__attribute__((constructor)) static void initialise() {
    if (RUNNING_ON_VALGRIND) {
        __asm__ volatile(".byte 0x0f, 0x04");  // no instruction on x86-64
    }
}
#else
namespace {

int is_avcodec(dl_phdr_info *info, size_t, void *) {
    return std::strstr(info->dlpi_name, "/libavcodec.so") != nullptr;
}

bool fired = false;

void load_the_initialiser() {
    const char *path = std::getenv("MORVAKINE_SIGILL_LIBRARY");
    if (!fired && RUNNING_ON_VALGRIND && path != nullptr &&
        dl_iterate_phdr(is_avcodec, nullptr) != 0) {
        fired = true;
        using Open = void *(*)(const char *, int);
        reinterpret_cast<Open>(dlsym(RTLD_NEXT, "dlopen"))(path, RTLD_NOW);
    }
}

__attribute__((constructor)) void at_start() { load_the_initialiser(); }

}  // namespace

extern "C" void *dlopen(const char *file, int mode) {
    using Open = void *(*)(const char *, int);
    void *handle = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "dlopen"))(file, mode);
    load_the_initialiser();
    return handle;
}
#endif
