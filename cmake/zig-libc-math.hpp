// Force-included into every translation unit of the zig build
// (zig-toolchain.cmake). zig links its compiler runtime into the module, and
// that runtime defines exp2 and a score of other libm functions as weak
// symbols, which the linker prefers to the C library's shared ones. Where
// IEEE-754 fixes the result (sqrt, floor, fmod, frexp, ...) the two cannot
// differ; exp2 did, in the last bit. So every call of these names the C
// library's own symbol by its version: GLIBC_2.2.5 is x86_64's first, the
// only one a glibc 2.17 target has. Every unit carries the names because
// link-time optimisation moves calls between units.
__asm__(".symver exp2, exp2@GLIBC_2.2.5");
__asm__(".symver pow, pow@GLIBC_2.2.5");
__asm__(".symver cbrt, cbrt@GLIBC_2.2.5");
