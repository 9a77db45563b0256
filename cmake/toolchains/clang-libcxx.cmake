# The build a device's C++ library sees: clang with LLVM's libc++ and
# libc++abi (Debian's libc++-dev, libc++abi-dev) in place of GCC's
# libstdc++, on this machine. Debian's GoogleTest libraries are built
# against libstdc++, so the tests build GoogleTest from its source package
# (googletest, in /usr/src/googletest) with this toolchain.
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-stdlib=libc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-stdlib=libc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-stdlib=libc++")
set(NATIVERENDER_GTEST_SOURCE /usr/src/googletest CACHE PATH
    "GoogleTest's source, built with the project's own toolchain")
