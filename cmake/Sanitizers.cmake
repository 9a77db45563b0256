# Applies NATIVERENDER_SANITIZE to every target of the build. A sanitizer
# report must fail the run, so recovery is switched off.
if(NATIVERENDER_SANITIZE STREQUAL "")
  return()
endif()

if(NATIVERENDER_SANITIZE STREQUAL "address,undefined")
  # vptr is left out: the engine interfaces are bound by vtable position
  # across separately built libraries, so an engine's frame is never of our
  # declared type (the interface test does exactly that on purpose).
  set(_san_flags -fsanitize=address,undefined -fno-sanitize=vptr -fno-sanitize-recover=all
                 -fno-omit-frame-pointer)
elseif(NATIVERENDER_SANITIZE STREQUAL "thread")
  set(_san_flags -fsanitize=thread -fno-omit-frame-pointer)
else()
  message(FATAL_ERROR "NATIVERENDER_SANITIZE must be empty, 'address,undefined' "
                      "or 'thread', not '${NATIVERENDER_SANITIZE}'")
endif()

add_compile_options(${_san_flags})
add_link_options(${_san_flags})
# GCC's -Wmaybe-uninitialized misfires on libstdc++'s own <regex> code once
# AddressSanitizer instruments it; the plain build keeps the warning.
if(NATIVERENDER_SANITIZE STREQUAL "address,undefined" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(-Wno-maybe-uninitialized)
endif()
message(STATUS "nativerender: sanitizers ${NATIVERENDER_SANITIZE}")
