# The CMake package an engine finds with find_package(nativerender):
# nativerender::nativerender (the module and its public face) and, where
# the desktop component is installed, nativerender::desktop_host (the host
# shell and the stand-ins, for desktop engines and their tests).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(nativerender_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/nativerender)
install(EXPORT nativerenderTargets NAMESPACE nativerender::
        DESTINATION ${nativerender_cmake_dir} COMPONENT nativerender_dev)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/nativerenderConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/nativerenderConfig.cmake
  INSTALL_DESTINATION ${nativerender_cmake_dir})
# The headers' layout changes only with the major version.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/nativerenderConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/nativerenderConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/nativerenderConfigVersion.cmake
        DESTINATION ${nativerender_cmake_dir} COMPONENT nativerender_dev)
