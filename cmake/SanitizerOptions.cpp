// Run-time options every program of a sanitizer build starts with (the top
// CMakeLists.txt links this into each executable there). ASAN_OPTIONS in the
// environment is read after them and may add to them or override them.
//
// intercept_tls_get_addr=0: the sanitizer runtime of gcc 12 (Debian 12)
// watches the loader hand out the thread-local blocks of libraries loaded at
// run time, to scan them for pointers at the leak check. It cannot ask glibc
// for a block's bounds, so it guesses: a block that starts 16 bytes past a
// page boundary is taken for a glibc 2.19 one, and the two words before it
// are read as its size and start. Since glibc 2.25 the loader takes these
// blocks from malloc, so those words are the allocator's own chunk header.
// For the client library's 40-byte block that gave 0x393 to 0x2800001495
// (the header's allocation-stack id as the start, its state-and-size word,
// 0x28 being the 40, as the size), and the leak check at program end died
// scanning it ("Tracer caught signal 11"). Whether the block lands on such an
// address depends on everything the program allocated before, down to the
// length of the build folder's path: the same test failed in one folder and
// passed in another. The client library's own threads take their first
// block of that size from a fresh page, so theirs always land there; a
// program that ends while one of them lives would die the same way.
//
// Off, the interception costs the leak check nothing on this glibc: a block
// it cannot place (most of them) it records as empty anyway, and the check
// finds these blocks, and what their variables point to, as live heap
// memory. Runtimes since 2023 ask the allocator instead of guessing.
extern "C" const char* __asan_default_options();

extern "C" const char* __asan_default_options() {
    return "intercept_tls_get_addr=0";
}
