# Pictures drawn for the SDK, rendered at build time into the resource folder.
#
#   pelmar_pictures(<folder>)
#       Every <name>.svg in <folder> (a subsystem's `pictures/`) is rendered by rsvg-convert into
#       ${PELMAR_BUILD_RESOURCE_DIR} twice: <name>@3x.png at three times its size in points, and
#       <name>.png at its size (for code that asks for "<name>.png"). The build tree's binaries
#       read that folder, and the install puts its files in <datadir>/pelmar/resources.

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
    set(staged "")
    foreach(picture IN LISTS pictures)
        get_filename_component(name ${picture} NAME_WE)
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
    # Until the subsystems stage their resources/ folders themselves, the pictures in the one
    # next to <folder> join the build tree's folder too (they are installed from resources/).
    if(NOT COMMAND pelmar_resources)
        get_filename_component(parent ${folder} DIRECTORY)
        file(GLOB shipped CONFIGURE_DEPENDS ${parent}/resources/*.png)
        foreach(file IN LISTS shipped)
            get_filename_component(name ${file} NAME)
            add_custom_command(OUTPUT ${PELMAR_BUILD_RESOURCE_DIR}/${name}
                    COMMAND ${CMAKE_COMMAND} -E copy ${file} ${PELMAR_BUILD_RESOURCE_DIR}/${name}
                    DEPENDS ${file}
                    VERBATIM)
            list(APPEND staged ${PELMAR_BUILD_RESOURCE_DIR}/${name})
        endforeach()
    endif()
    string(MD5 id ${folder})
    add_custom_target(pelmar_pictures_${id} ALL DEPENDS ${rendered} ${staged})
    install(FILES ${rendered} DESTINATION ${CMAKE_INSTALL_DATADIR}/pelmar/resources)
endfunction()
