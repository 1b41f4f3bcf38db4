// Run-time options every program of a sanitizer build starts with (the top
// CMakeLists.txt links this into each executable there). ASAN_OPTIONS in the
// environment is read after them and may add to them or override them.
//
// intercept_tls_get_addr=0: the sanitizer runtime of gcc 12 (Debian 12)
// intercepts the loader's thread-local lookups to note where a library
// loaded at run time keeps its thread-local block. It cannot ask glibc for
// the bounds, so it guesses: a block that starts 16 bytes past a page
// boundary is taken for a glibc 2.19 one, and the two words before it are
// read as its size and start. Since glibc 2.25 the loader takes these blocks
// from malloc, so those two words are the allocator's own chunk header and
// the "bounds" are nonsense (0x393 to 0x2800001495 for the client library's
// 40-byte block: a stack id and the header's size field). The leak check at
// program end scans that range and dies ("Tracer caught signal 11"). Whether
// a block lands on such an address depends on everything the program
// allocated before, down to the length of the build folder's path, so the
// same test failed in one folder and passed in another. The client library's
// own threads get their first block of that size from a fresh page, and so
// always there; a run that ends while one of them still lives would crash as
// well.
//
// The interception adds nothing to the leak check on this glibc: a block it
// cannot place (most of them) it records as empty, and the check still
// finds these blocks, and whatever their thread-local variables point to,
// as live heap memory. Turned off, no range is guessed and nothing else
// changes; runtimes since 2023 ask the allocator instead of guessing.
extern "C" const char* __asan_default_options();

extern "C" const char* __asan_default_options() {
    return "intercept_tls_get_addr=0";
}
