// The leak check at exit, with a live thread whose dynamic TLS block starts
// 16 bytes into a page. The __tls_get_addr hook of the sanitizer runtimes
// of clang 14 and GCC 12 takes such a block for an old C library's header
// and reads its "range" from the allocator's chunk header in front of it;
// LeakSanitizer's tracer then dies of SIGSEGV scanning that range, after
// the process's own work is done. Where blocks land depends on the heap's
// history, so in the suite it came and went with the machine's load. This
// places a block there on purpose: it passes only while the suite's
// ASAN_OPTIONS keep the hook off (intercept_tls_get_addr=0).
#include <dlfcn.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

constexpr std::size_t kBlockSize = 48;  // the module's block
constexpr int kMaxChunks = 1 << 14;
void *kept[kMaxChunks];  // reachable from here: none of them leaks

std::mutex mutex;
std::condition_variable placed;
bool done = false;
char *block = nullptr;
char *expected = nullptr;

// Fills the thread's chunks of the block's size until the next one starts
// 16 bytes into a page, then lets the C library allocate the block there.
// Stays alive, so that the leak check at exit scans its TLS.
void place(char *(*thread_block)()) {
  int n = 0;
  kept[n++] = std::malloc(kBlockSize);
  kept[n++] = std::malloc(kBlockSize);
  auto stride = static_cast<char *>(kept[1]) - static_cast<char *>(kept[0]);
  while (n < kMaxChunks &&
         (reinterpret_cast<std::uintptr_t>(kept[n - 1]) + stride) % 4096 != 16)
    kept[n++] = std::malloc(kBlockSize);
  char *next = static_cast<char *>(kept[n - 1]) + stride;
  char *got = thread_block();
  {
    std::lock_guard<std::mutex> lock(mutex);
    expected = next;
    block = got;
    done = true;
  }
  placed.notify_one();
  for (;;) pause();
}

}  // namespace

int main() {
  void *module = dlopen(MODULE_PATH, RTLD_NOW);
  if (!module) {
    std::fprintf(stderr, "dynamic_tls_test: %s\n", dlerror());
    return 1;
  }
  auto thread_block =
      reinterpret_cast<char *(*)()>(dlsym(module, "thread_block"));
  std::thread(place, thread_block).detach();
  std::unique_lock<std::mutex> lock(mutex);
  placed.wait(lock, [] { return done; });
  if (block != expected) {
    std::fprintf(stderr,
                 "dynamic_tls_test: the TLS block is at %p, not at %p: this "
                 "allocator lays chunks out differently\n",
                 static_cast<void *>(block), static_cast<void *>(expected));
    return 1;
  }
  return 0;
}
