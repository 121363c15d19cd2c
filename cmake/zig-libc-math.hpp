// Force-included into every translation unit of the zig build
// (zig-toolchain.cmake). zig links its compiler runtime into the module, and
// that runtime defines exp2, floor and a score of other libm functions as
// weak symbols, which the linker prefers to the C library's shared ones. So
// every call of a libm function that the sources make names the C library's
// own symbol by its version (GLIBC_2.2.5, x86_64's first, the only one a
// glibc 2.17 target has), as in the GCC build:
// - exp2, pow and cbrt, whose last bit IEEE-754 leaves open (zig's exp2
//   differs from glibc's about once in a thousand arguments);
// - floor, ceil, trunc, round, fmod and sqrt, exact in both, but glibc picks
//   an SSE4.1 floor, ceil and trunc at load time where zig's runtime has
//   only generic code (floor: 3 instructions a call instead of about 30).
// Every unit carries the names because link-time optimisation moves calls
// between units.
__asm__(".symver exp2, exp2@GLIBC_2.2.5");
__asm__(".symver pow, pow@GLIBC_2.2.5");
__asm__(".symver cbrt, cbrt@GLIBC_2.2.5");
__asm__(".symver floor, floor@GLIBC_2.2.5");
__asm__(".symver ceil, ceil@GLIBC_2.2.5");
__asm__(".symver trunc, trunc@GLIBC_2.2.5");
__asm__(".symver round, round@GLIBC_2.2.5");
__asm__(".symver fmod, fmod@GLIBC_2.2.5");
__asm__(".symver sqrt, sqrt@GLIBC_2.2.5");
