// Thread-local storage in a module loaded with dlopen: the C library
// allocates each thread's block of it with malloc on the thread's first use.
extern "C" char *thread_block() {
  static thread_local char block[48];
  return block;
}
