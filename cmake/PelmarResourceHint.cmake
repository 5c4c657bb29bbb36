# pelmar_resource_hint(<target> <resource folder> <output source> [BUILD_TREE])
#     Writes a source naming <resource folder> (from PelmarResourceDir.cpp.in beside this file) to
#     <output source> and adds it to every executable and shared library that links <target>, so
#     that ui::Resources in such a binary finds the folder wherever the package lies. BUILD_TREE
#     keeps the source out of the exported targets. Used by the SDK's build and by the installed
#     package (PelmarConfig.cmake), which names the resources of wherever it was found.

include_guard(GLOBAL)

set(PELMAR_RESOURCE_HINT_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/PelmarResourceDir.cpp.in)

function(pelmar_resource_hint target folder output)
    cmake_parse_arguments(ARG "BUILD_TREE" "" "" ${ARGN})
    string(REPLACE "\\" "\\\\" PELMAR_RESOURCE_DIR_LITERAL "${folder}")
    string(REPLACE "\"" "\\\"" PELMAR_RESOURCE_DIR_LITERAL "${PELMAR_RESOURCE_DIR_LITERAL}")
    configure_file(${PELMAR_RESOURCE_HINT_TEMPLATE} ${output} @ONLY)
    set(type "$<TARGET_PROPERTY:TYPE>")
    set(linked "$<OR:$<STREQUAL:${type},EXECUTABLE>,$<STREQUAL:${type},SHARED_LIBRARY>")
    set(linked "${linked},$<STREQUAL:${type},MODULE_LIBRARY>>")
    set(source "$<${linked}:${output}>")
    if(ARG_BUILD_TREE)
        set(source "$<BUILD_INTERFACE:${source}>")
    endif()
    set_property(TARGET ${target} APPEND PROPERTY INTERFACE_SOURCES "${source}")
endfunction()
