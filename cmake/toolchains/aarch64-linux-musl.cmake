# Cross build for 64-bit ARM Linux on musl with clang and LLVM's libc++: the
# C and C++ libraries of a device, as near as this machine comes. The
# compiler is the Zig toolchain's (`zig cc` / `zig c++`), which builds
# musl, libc++, libc++abi and libunwind for the target from its own
# sources on first use and keeps them in its cache; scripts/deps musl
# fetches it (scripts/lib/zig.sh). Programs are linked statically and run
# under user-mode emulation with nothing of the machine's C library.
#
# Shared libraries link too (`-shared`, libc++ linked statically into
# them): the module builds with this file as it is. Another target of the
# same toolchain (x86_64-linux-musl, or another version of one) is given
# with -DNATIVERENDER_ZIG_TARGET=...; the Zig toolchain's place with
# -DNATIVERENDER_ZIG=/path/to/zig or NATIVERENDER_CACHE, as the scripts do.
set(NATIVERENDER_ZIG_TARGET aarch64-linux-musl CACHE STRING "The Zig toolchain's target triple")
if(DEFINED ENV{NATIVERENDER_CACHE})
  set(nativerender_cache "$ENV{NATIVERENDER_CACHE}")
elseif(DEFINED ENV{XDG_CACHE_HOME})
  set(nativerender_cache "$ENV{XDG_CACHE_HOME}/nativerender")
else()
  set(nativerender_cache "$ENV{HOME}/.cache/nativerender")
endif()
set(NATIVERENDER_ZIG "${nativerender_cache}/zig-linux-x64-0.11.0/zig" CACHE FILEPATH
    "The Zig toolchain's program")
if(NOT EXISTS "${NATIVERENDER_ZIG}")
  message(FATAL_ERROR "no Zig toolchain at ${NATIVERENDER_ZIG}: scripts/deps musl fetches it")
endif()

string(REGEX MATCH "^[^-]+" nativerender_arch "${NATIVERENDER_ZIG_TARGET}")
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR "${nativerender_arch}")

# CMake takes a compiler as one program: small wrappers that name the
# subcommand and the target, written beside the toolchain in the cache.
# Zig's own cache of what it built for the target goes there too.
get_filename_component(nativerender_zig_dir "${NATIVERENDER_ZIG}" DIRECTORY)
set(nativerender_wrappers "${nativerender_zig_dir}/wrappers")
foreach(tool cc c++ ar ranlib)
  set(command "${tool} -target ${NATIVERENDER_ZIG_TARGET}")
  if(tool STREQUAL "ar" OR tool STREQUAL "ranlib")
    set(command "${tool}")
  endif()
  set(wrapper "${nativerender_wrappers}/${NATIVERENDER_ZIG_TARGET}-${tool}")
  set(text "#!/bin/sh\n"
           "export ZIG_GLOBAL_CACHE_DIR=\"\${ZIG_GLOBAL_CACHE_DIR:-${nativerender_zig_dir}/cache}\"\n"
           "exec \"${NATIVERENDER_ZIG}\" ${command} \"\$@\"\n")
  string(CONCAT text ${text})
  set(old "")
  if(EXISTS "${wrapper}")
    file(READ "${wrapper}" old)
  endif()
  if(NOT old STREQUAL text)
    file(WRITE "${wrapper}.tmp" "${text}")
    file(CHMOD "${wrapper}.tmp" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
         GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    file(RENAME "${wrapper}.tmp" "${wrapper}")
  endif()
endforeach()
set(CMAKE_C_COMPILER "${nativerender_wrappers}/${NATIVERENDER_ZIG_TARGET}-cc")
set(CMAKE_CXX_COMPILER "${nativerender_wrappers}/${NATIVERENDER_ZIG_TARGET}-c++")
set(CMAKE_AR "${nativerender_wrappers}/${NATIVERENDER_ZIG_TARGET}-ar" CACHE FILEPATH "")
set(CMAKE_RANLIB "${nativerender_wrappers}/${NATIVERENDER_ZIG_TARGET}-ranlib" CACHE FILEPATH "")

# Programs stand alone: musl and libc++ linked in. Zig's linker asks for a
# 16 MiB stack in the program header, which musl also takes as the size of
# every new thread's stack (up to 8 MiB): ask for musl's own default
# instead, 128 KiB, so that threads get what they get on a device.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,-z,stack-size=131072")

# Nothing of the machine's own libraries or headers: what the build links
# for the target is named by path (a cache of libraries built for it).
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} "${nativerender_zig_dir}/no-pkgconfig")

if(nativerender_arch STREQUAL "aarch64")
  find_program(NATIVERENDER_QEMU qemu-aarch64)
  if(NATIVERENDER_QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${NATIVERENDER_QEMU}")
  endif()
endif()

# Debian's GoogleTest libraries are built for glibc and libstdc++: the tests
# build it from its source package (googletest) with this toolchain.
set(NATIVERENDER_GTEST_SOURCE /usr/src/googletest CACHE PATH
    "GoogleTest's source, built with the project's own toolchain")
