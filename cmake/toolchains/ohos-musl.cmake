# The module for an OpenHarmony device ABI, linked on this machine: the
# musl toolchain (aarch64-linux-musl.cmake; -DNATIVERENDER_ZIG_TARGET=
# x86_64-linux-musl for the emulator's ABI) in the device branch of the
# build (OHOS, as the NDK's own toolchain file sets it), against link stubs
# of the platform's libraries and of the shared C++ library, as an NDK
# links against its sysroot's. scripts/package-ohos uses it; an app's
# release build uses the NDK's toolchain file instead.
#
#   NATIVERENDER_OHOS_STUBS   folder of the stubs (libace_napi.z.so, ...,
#                             libc++_shared.so), searched at link time
#   NATIVERENDER_OHOS_INCLUDE folder of the headers the NDK has beside the
#                             platform's own (EGL/, GLES2/, GLES3/, KHR/)
# and, as for any device build, NATIVERENDER_JPEG_ROOT (scripts/jpeg).
include(${CMAKE_CURRENT_LIST_DIR}/aarch64-linux-musl.cmake)

set(OHOS ON)
foreach(var NATIVERENDER_OHOS_STUBS NATIVERENDER_OHOS_INCLUDE)
  if(NOT ${var})
    message(FATAL_ERROR "ohos-musl.cmake: ${var} is not set (scripts/package-ohos sets it)")
  endif()
endforeach()
# Passed on to the checks' own builds (try_compile).
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES
     NATIVERENDER_OHOS_STUBS NATIVERENDER_OHOS_INCLUDE NATIVERENDER_ZIG_TARGET)

set(CMAKE_C_FLAGS_INIT "-isystem ${NATIVERENDER_OHOS_INCLUDE}")
set(CMAKE_CXX_FLAGS_INIT "-isystem ${NATIVERENDER_OHOS_INCLUDE}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-L${NATIVERENDER_OHOS_STUBS} -Wl,-z,defs")

# Shared libraries link through the C driver, which adds no C++ library of
# its own: the toolchain's C++ driver would link its libc++ statically into
# the module, where an app's native libraries share one libc++_shared.so.
# The C++ library is then that one, named on every shared link.
set(CMAKE_CXX_CREATE_SHARED_LIBRARY
    "<CMAKE_C_COMPILER> <CMAKE_SHARED_LIBRARY_CXX_FLAGS> <LINK_FLAGS> <CMAKE_SHARED_LIBRARY_CREATE_CXX_FLAGS> <SONAME_FLAG><TARGET_SONAME> -o <TARGET> <OBJECTS> <LINK_LIBRARIES> -lc++_shared")
