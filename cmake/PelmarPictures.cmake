# Pictures drawn for the SDK, rendered at build time into the resource folder.
#
#   pelmar_pictures(<folder>)
#       Every <name>.svg in <folder> (a subsystem's `pictures/`) is rendered by rsvg-convert into
#       ${PELMAR_BUILD_RESOURCE_DIR} twice: <name>@3x.png at three times its size in points, and
#       <name>.png at its size (for code that asks for "<name>.png"). They join the
#       pelmar_resources target, so they are installed with the rest of that folder.

include_guard(GLOBAL)
include(GNUInstallDirs)

find_program(PELMAR_RSVG_CONVERT rsvg-convert REQUIRED)
if(NOT DEFINED PELMAR_BUILD_RESOURCE_DIR)
    set(PELMAR_BUILD_RESOURCE_DIR ${PROJECT_BINARY_DIR}/${CMAKE_INSTALL_DATADIR}/pelmar/resources)
endif()
file(MAKE_DIRECTORY ${PELMAR_BUILD_RESOURCE_DIR})

function(pelmar_pictures folder)
    get_filename_component(folder ${folder} ABSOLUTE)
    file(GLOB pictures CONFIGURE_DEPENDS ${folder}/*.svg)
    set(rendered "")
    foreach(picture IN LISTS pictures)
        # Only ".svg" goes: a symbol's name keeps its dots ("square.and.arrow.up").
        get_filename_component(name ${picture} NAME_WLE)
        set(large ${PELMAR_BUILD_RESOURCE_DIR}/${name}@3x.png)
        set(small ${PELMAR_BUILD_RESOURCE_DIR}/${name}.png)
        add_custom_command(OUTPUT ${large} ${small}
                COMMAND ${PELMAR_RSVG_CONVERT} --zoom 3 --output ${large} ${picture}
                COMMAND ${PELMAR_RSVG_CONVERT} --output ${small} ${picture}
                DEPENDS ${picture}
                COMMENT "Rendering picture ${name}"
                VERBATIM)
        list(APPEND rendered ${large} ${small})
    endforeach()
    string(MD5 id ${folder})
    add_custom_target(pelmar_pictures_${id} DEPENDS ${rendered})
    # Installed with the rest of the build tree's resource folder.
    add_dependencies(pelmar_resources pelmar_pictures_${id})
endfunction()
