# Cross build for 64-bit ARM Linux with Debian's aarch64 cross compiler,
# against the arm64 (multiarch) packages of every dependency, and run under
# user-mode emulation: ctest, gtest's test discovery and the tests that
# start a program of ours (NATIVERENDER_EMULATOR) all go through qemu.
#
# The C library at run time is the multiarch one (libc6:arm64 in
# /lib/aarch64-linux-gnu, found by its own loader at /lib/ld-linux-aarch64.so.1),
# the same one every other arm64 library was built against. The cross
# toolchain's copy under /usr/aarch64-linux-gnu serves only the link.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

find_program(NATIVERENDER_QEMU qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${NATIVERENDER_QEMU}")

# The arm64 packages' libraries and CMake packages live in
# /usr/lib/aarch64-linux-gnu, which CMAKE_LIBRARY_ARCHITECTURE puts first;
# pkg-config reads their .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig")
