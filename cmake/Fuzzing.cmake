# NATIVERENDER_BUILD_FUZZ: the whole build is instrumented for libFuzzer
# (coverage only; the fuzz targets link the fuzzer's main) and runs under
# AddressSanitizer and UndefinedBehaviorSanitizer, so a fuzz input that
# reads outside a buffer or overflows stops the run with its reproducer.
if(NOT NATIVERENDER_BUILD_FUZZ)
  return()
endif()
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT CMAKE_C_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "NATIVERENDER_BUILD_FUZZ needs clang for C and C++ "
                      "(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)")
endif()
if(NOT NATIVERENDER_SANITIZE STREQUAL "")
  message(FATAL_ERROR "NATIVERENDER_BUILD_FUZZ brings its own sanitizers; "
                      "leave NATIVERENDER_SANITIZE empty")
endif()

# vptr stays off for the same reason as in the sanitizer builds: engine
# interfaces are bound by vtable position across separately built code.
set(_fuzz_san_flags -fsanitize=address,undefined -fno-sanitize=vptr
                    -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options(-fsanitize=fuzzer-no-link ${_fuzz_san_flags})
add_link_options(${_fuzz_san_flags})
message(STATUS "nativerender: libFuzzer build")
