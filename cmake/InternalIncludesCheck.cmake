# Run as `cmake -DSOURCE_DIR=<repo> -P InternalIncludesCheck.cmake`: fails when a source outside an
# area includes that area's internal headers ("pelmar/<area>/internal/..." from a file that is not
# under pelmar/<area>/). Fuzz targets are exempt: they drive internal parsers directly.
if(NOT SOURCE_DIR)
    message(FATAL_ERROR "set SOURCE_DIR to the SDK's source tree")
endif()
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}
        ${SOURCE_DIR}/pelmar/*.h ${SOURCE_DIR}/pelmar/*.cpp
        ${SOURCE_DIR}/testing/*.h ${SOURCE_DIR}/testing/*.cpp
        ${SOURCE_DIR}/tools/*.h ${SOURCE_DIR}/tools/*.cpp
        ${SOURCE_DIR}/bench/*.h ${SOURCE_DIR}/bench/*.cpp
        ${SOURCE_DIR}/examples/*.h ${SOURCE_DIR}/examples/*.cpp)
set(violations "")
foreach(source IN LISTS sources)
    file(STRINGS ${SOURCE_DIR}/${source} includes REGEX "^#include \"pelmar/.*/internal/")
    foreach(line IN LISTS includes)
        string(REGEX REPLACE "^#include \"(pelmar/.*)/internal/.*$" "\\1" area "${line}")
        string(FIND "${source}" "${area}/" at)
        if(NOT at EQUAL 0)
            string(APPEND violations "\n  ${source}: ${line}")
        endif()
    endforeach()
endforeach()
if(violations)
    message(FATAL_ERROR "internal headers included from outside their area:${violations}")
endif()
