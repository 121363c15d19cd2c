# The release build: zig's clang with its libc++, code for x86_64 Linux that
# needs no glibc newer than 2.17 (manylinux2014). zig links its C++ runtime
# into the module statically.
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

set(zig_target x86_64-linux-gnu.2.17)

if(NOT TESMAR_ZIG_PYTHON)
  set(TESMAR_ZIG_PYTHON "${Python_EXECUTABLE}")
endif()
if(NOT TESMAR_ZIG_PYTHON)
  message(FATAL_ERROR "zig toolchain: set TESMAR_ZIG_PYTHON to a Python with the ziglang package")
endif()
# The projects that CMake's checks configure read this file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TESMAR_ZIG_PYTHON)

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
