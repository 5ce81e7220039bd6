# Installation: the shared library, the public headers, a CMake package and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS hypervale EXPORT HypervaleTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/hypervale
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT HypervaleTargets
  NAMESPACE Hypervale::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Hypervale)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/HypervaleConfig.cmake.in
  ${PROJECT_BINARY_DIR}/HypervaleConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Hypervale)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/HypervaleConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/HypervaleConfig.cmake
              ${PROJECT_BINARY_DIR}/HypervaleConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Hypervale)

# From <libdir>/pkgconfig back to the prefix.
file(RELATIVE_PATH HYPERVALE_PC_TO_PREFIX
  ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" HYPERVALE_PC_TO_PREFIX "${HYPERVALE_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/hypervale.pc.in ${PROJECT_BINARY_DIR}/hypervale.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/hypervale.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
