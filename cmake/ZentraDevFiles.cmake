# The files other programs build against libzentra with: a pkg-config file and a CMake package
# (find_package(zentra) gives the imported target zentra::zentra). Both are relocatable: they find
# their prefix from where they lie, so an install with --prefix or an unpacked package root works.
include(CMakePackageConfigHelpers)

set(ZENTRA_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/zentra)
set(ZENTRA_PKGCONFIGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# pkg-config: the prefix is found from the .pc file's own folder.
file(RELATIVE_PATH ZENTRA_PC_TO_PREFIX /${ZENTRA_PKGCONFIGDIR} /)
string(REGEX REPLACE "/$" "" ZENTRA_PC_TO_PREFIX "${ZENTRA_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/zentra.pc.in ${PROJECT_BINARY_DIR}/zentra.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zentra.pc DESTINATION ${ZENTRA_PKGCONFIGDIR} COMPONENT development)

install(EXPORT zentraTargets NAMESPACE zentra:: DESTINATION ${ZENTRA_CMAKEDIR} COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/zentraConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/zentraConfig.cmake INSTALL_DESTINATION ${ZENTRA_CMAKEDIR})
# The library's ABI follows its soname: a program built against 3.x needs 3.x.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zentraConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/zentraConfig.cmake ${PROJECT_BINARY_DIR}/zentraConfigVersion.cmake
        DESTINATION ${ZENTRA_CMAKEDIR} COMPONENT development)
