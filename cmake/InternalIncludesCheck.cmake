# Run as `cmake -DSOURCE_DIR=<repo> -P InternalIncludesCheck.cmake`: fails when a source outside an
# area includes that area's internal headers ("pelmar/<area>/internal/..." from a file that is not
# under pelmar/<area>/), or opens that area's internal namespace ("namespace pelmar::<area>::internal"
# or "namespace <area>::internal" inside namespace pelmar) from such a file. The shared
# "pelmar::internal" is refused everywhere: each area keeps its helpers in its own namespace.
# Fuzz targets are exempt: they drive internal parsers directly.
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

# Namespaces named after a folder under pelmar/ belong to that folder; the platform layer's
# namespaces (av, ui, ...) are not folder names and are left alone. A bare "namespace internal"
# directly inside "namespace pelmar" is the shared one under another spelling.
set(violations "")
foreach(source IN LISTS sources)
    file(STRINGS ${SOURCE_DIR}/${source} lines REGEX "^(namespace [A-Za-z_:]* ?{|} +// namespace)")
    set(open "")
    foreach(line IN LISTS lines)
        if(line MATCHES "^}")
            list(POP_BACK open)
            continue()
        endif()
        string(REGEX REPLACE "^namespace ([A-Za-z_:]*) ?{.*$" "\\1" name "${line}")
        if(name STREQUAL "")
            set(name "(anonymous)")
        endif()
        set(outer "")
        list(LENGTH open depth)
        if(depth GREATER 0)
            list(GET open -1 outer)
        endif()
        list(APPEND open "${name}")
        if(name STREQUAL "internal" AND outer STREQUAL "pelmar")
            set(name "pelmar::internal")
        elseif(NOT name MATCHES "::internal$")
            continue()
        endif()
        string(REGEX REPLACE "^(pelmar::)?(.*)::internal$" "\\2" area "${name}")
        if(area STREQUAL "pelmar")
            string(APPEND violations "\n  ${source}: ${line} (use the area's own namespace)")
        elseif(IS_DIRECTORY ${SOURCE_DIR}/pelmar/${area} AND NOT area STREQUAL "platform")
            string(FIND "${source}" "pelmar/${area}/" at)
            if(NOT at EQUAL 0)
                string(APPEND violations "\n  ${source}: ${line}")
            endif()
        endif()
    endforeach()
endforeach()
if(violations)
    message(FATAL_ERROR "internal namespaces opened from outside their area:${violations}")
endif()
