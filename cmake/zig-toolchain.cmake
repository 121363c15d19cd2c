# The release build: zig's clang with its libc++, code for 64-bit Linux that
# needs no glibc newer than 2.17 (manylinux2014), for x86_64 or, with
# TESMAR_ZIG_ARCH=aarch64, cross-compiled for 64-bit ARM. zig links its C++
# runtime into the module statically.
#
# A cross build reads the target interpreter's headers from
# TESMAR_TARGET_ROOT, a file system of that processor with CPython 3.13's
# development headers (tools/aarch64-python unpacks Debian's), and names the
# module by that interpreter's SOABI.
#
# zig comes from the ziglang package of the interpreter TESMAR_ZIG_PYTHON
# (`make release-check` passes the development one), or else of the one the
# module is built for. Its compiler, archiver and indexer are each called
# through a small script written into the build folder: CMake wants one
# program for each, and the archiver must be zig's own, which reads the
# LLVM bitcode that link-time optimisation leaves in objects (an older
# system llvm-ar cannot). The first configure builds libc++ for the target
# (minutes); zig keeps it in the user's cache folder. zig-libc-math.hpp says
# why every unit includes it.

if(NOT TESMAR_ZIG_ARCH)
  set(TESMAR_ZIG_ARCH x86_64)
endif()
set(zig_target ${TESMAR_ZIG_ARCH}-linux-gnu.2.17)

if(NOT TESMAR_ZIG_PYTHON)
  set(TESMAR_ZIG_PYTHON "${Python_EXECUTABLE}")
endif()
if(NOT TESMAR_ZIG_PYTHON)
  message(FATAL_ERROR "zig toolchain: set TESMAR_ZIG_PYTHON to a Python with the ziglang package")
endif()
# The projects that CMake's checks configure read this file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TESMAR_ZIG_PYTHON TESMAR_ZIG_ARCH
     TESMAR_TARGET_ROOT)

cmake_host_system_information(RESULT host_arch QUERY OS_PLATFORM)
if(NOT TESMAR_ZIG_ARCH STREQUAL host_arch)
  set(CMAKE_SYSTEM_NAME Linux)
  set(CMAKE_SYSTEM_PROCESSOR ${TESMAR_ZIG_ARCH})
  if(NOT IS_DIRECTORY "${TESMAR_TARGET_ROOT}/usr/include/python3.13")
    message(FATAL_ERROR "zig toolchain: building for ${TESMAR_ZIG_ARCH} needs "
                        "TESMAR_TARGET_ROOT, with usr/include/python3.13 (tools/aarch64-python)")
  endif()
  # FindPython takes the headers as given.
  set(Python_INCLUDE_DIR "${TESMAR_TARGET_ROOT}/usr/include/python3.13"
      CACHE PATH "the target interpreter's headers" FORCE)
  # FindPython asks the host interpreter for the rest, which knows no
  # aarch64 SOABI: CMakeLists.txt names the module by this one.
  set(TESMAR_TARGET_SOABI "cpython-313-${TESMAR_ZIG_ARCH}-linux-gnu")
endif()

execute_process(COMMAND "${TESMAR_ZIG_PYTHON}" -m ziglang version
                OUTPUT_VARIABLE zig_version OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE zig_failed)
if(zig_failed)
  message(FATAL_ERROR "zig toolchain: ${TESMAR_ZIG_PYTHON} -m ziglang fails; "
                      "install the release requirements (requirements-release.txt) into it")
endif()

function(zig_tool name command)
  set(script "${CMAKE_BINARY_DIR}/zig-tools/${name}")
  file(WRITE "${script}" "#!/bin/sh\nexec \"${TESMAR_ZIG_PYTHON}\" -m ziglang ${command} \"$@\"\n")
  file(CHMOD "${script}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                     GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(zig_${name} "${script}" PARENT_SCOPE)
endfunction()
zig_tool(c++ "c++ -target ${zig_target}")
zig_tool(ar ar)
zig_tool(ranlib ranlib)

set(CMAKE_CXX_COMPILER "${zig_c++}")
set(CMAKE_AR "${zig_ar}" CACHE FILEPATH "zig's archiver" FORCE)
set(CMAKE_RANLIB "${zig_ranlib}" CACHE FILEPATH "zig's archive indexer" FORCE)
set(CMAKE_CXX_COMPILER_AR "${zig_ar}" CACHE FILEPATH "zig's archiver" FORCE)
set(CMAKE_CXX_COMPILER_RANLIB "${zig_ranlib}" CACHE FILEPATH "zig's archive indexer" FORCE)

string(APPEND CMAKE_CXX_FLAGS_INIT " -include \"${CMAKE_CURRENT_LIST_DIR}/zig-libc-math.hpp\"")
