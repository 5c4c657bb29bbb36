# Install rules: headers, static libraries, the resource folder, the CMake package `Pelmar`
# (find_package(Pelmar) gives Pelmar::pelmar, also named pelmar::pelmar as in a build from
# source), the pkg-config file pelmar.pc and the command-line tools (tools/*/CMakeLists.txt
# install them into <prefix>/bin).

include_guard(GLOBAL)

set(PELMAR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Pelmar)

install(TARGETS ${PELMAR_EXPORTED_TARGETS}
        EXPORT PelmarTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# Headers in `internal/` and `testing/` folders are the SDK's own and stay out: no installed
# header may include one (a public header forward-declares what it keeps of an internal class, or
# the class moves out of `internal/`). cmake/install-test.sh compiles every installed header alone
# to hold that.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/pelmar
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h"
        PATTERN "internal" EXCLUDE
        PATTERN "testing" EXCLUDE)
install(EXPORT PelmarTargets NAMESPACE Pelmar:: DESTINATION ${PELMAR_CMAKE_DIR})

# Every resource the subsystems staged in the build tree (pelmar_resources), made ones included.
install(DIRECTORY ${PELMAR_BUILD_RESOURCE_DIR}/ DESTINATION ${PELMAR_RESOURCE_INSTALL_DIR})

# The package names each library also as a build from source does (pelmar::<name>).
set(PELMAR_EXPORT_NAMES "")
foreach(_pelmar_target IN LISTS PELMAR_EXPORTED_TARGETS)
    get_target_property(_pelmar_name ${_pelmar_target} EXPORT_NAME)
    list(APPEND PELMAR_EXPORT_NAMES ${_pelmar_name})
endforeach()
unset(_pelmar_target)
unset(_pelmar_name)
list(JOIN PELMAR_EXPORT_NAMES " " PELMAR_EXPORT_NAMES)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/PelmarPackage.cmake.in
        ${PROJECT_BINARY_DIR}/PelmarConfig.cmake
        INSTALL_DESTINATION ${PELMAR_CMAKE_DIR}
        PATH_VARS PELMAR_RESOURCE_INSTALL_DIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/PelmarConfigVersion.cmake
        COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/PelmarConfig.cmake ${PROJECT_BINARY_DIR}/PelmarConfigVersion.cmake
        ${PROJECT_SOURCE_DIR}/cmake/PelmarResourceHint.cmake
        ${PROJECT_SOURCE_DIR}/cmake/PelmarResourceDir.cpp.in
        DESTINATION ${PELMAR_CMAKE_DIR})

string(STRIP "${PELMAR_PKGCONFIG_LIBS}" PELMAR_PC_LIBS)
configure_file(${PROJECT_SOURCE_DIR}/cmake/pelmar.pc.in ${PROJECT_BINARY_DIR}/pelmar.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/pelmar.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
