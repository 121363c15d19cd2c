// Force-included into every translation unit of the zig build
// (zig-toolchain.cmake). zig links its compiler runtime into the module, and
// that runtime defines exp2, floor and a score of other libm functions as
// weak symbols, which the linker prefers to the C library's shared ones. So
// every call of a libm function that the sources make names the C library's
// own symbol by its version (the processor's first: GLIBC_2.2.5 on x86_64,
// GLIBC_2.17 on aarch64, the only one a glibc 2.17 target has), as in the GCC
// build:
// - exp2, pow and cbrt, whose last bit IEEE-754 leaves open (zig's exp2
//   differs from glibc's about once in a thousand arguments);
// - floor, ceil, trunc, round, fmod and sqrt, exact in both, but glibc picks
//   an SSE4.1 floor, ceil and trunc at load time where zig's runtime has
//   only generic code (floor: 3 instructions a call instead of about 30).
// Every unit carries the names because link-time optimisation moves calls
// between units.
//
// CMake's link-time optimisation for clang is ThinLTO, which compiles each
// unit's module assembly apart, and links on both processors. Full LTO
// (-flto) would not link for aarch64: merging the units, LLVM appends
// `.lto_discard exp2, exp2@GLIBC_2.17, ...` for the names that every unit
// but the first repeats, and AArch64's assembly parser, unlike x86's, takes
// no '@' in that directive's names ("unexpected token"). A declaration with
// an assembly label, `extern "C" double pow(double, double) noexcept
// __asm__("pow@GLIBC_2.17");` before any header, links under both (the
// object then refers to `pow@GLIBC_2.17` directly), but LLVM then no longer
// knows the function as the library's: floor, ceil, trunc and round would be
// calls instead of one instruction each.
#if defined(__x86_64__)
#define TESMAR_LIBM(name) __asm__(".symver " #name ", " #name "@GLIBC_2.2.5")
#elif defined(__aarch64__)
#define TESMAR_LIBM(name) __asm__(".symver " #name ", " #name "@GLIBC_2.17")
#else
#error "zig-libc-math.hpp: which glibc version is this processor's first?"
#endif
TESMAR_LIBM(exp2);
TESMAR_LIBM(pow);
TESMAR_LIBM(cbrt);
TESMAR_LIBM(floor);
TESMAR_LIBM(ceil);
TESMAR_LIBM(trunc);
TESMAR_LIBM(round);
TESMAR_LIBM(fmod);
TESMAR_LIBM(sqrt);
