# Build helpers shared by every folder of the SDK.
#
#   pelmar_library(<name> SOURCES ... [DEPS ...] [PRIVATE_DEPS ...])
#       Static library `pelmar_<name>`, aliases `pelmar::<name>` and `Pelmar::<name>`, exported as
#       `Pelmar::<name>` (the installed package adds `pelmar::<name>`), so a host's CMake names the
#       library the same way whether it builds the SDK from source or finds the installed one.
#       A library without sources becomes an INTERFACE library.
#
#   pelmar_test_support(<name> SOURCES ... [DEPS ...])
#       Test-support library `pelmar_<name>`, alias `pelmar::<name>`, made only with the tests: a
#       plain static library that is never installed, exported or listed in pelmar.pc.
#
#   pelmar_test(<name> LABEL unit|integration [EXTRA_LABELS ...] SOURCES ... [DEPS ...])
#       One GoogleTest executable `pelmar_<name>_<label>_test`; its tests are discovered at test
#       time and carry LABEL plus EXTRA_LABELS (for example `concurrency`, which `make tsan` runs).
#
#   pelmar_resources(<folder>)
#       Every file under <folder> (a subsystem's `resources/`) joins the SDK's one resource folder
#       of named images and sounds: it is copied into ${PELMAR_BUILD_RESOURCE_DIR}, which binaries
#       of the build tree read, and everything in that folder is installed to
#       <datadir>/pelmar/resources. File names must be unique across subsystems. A build step
#       that makes resources writes them into ${PELMAR_BUILD_RESOURCE_DIR} as the OUTPUT of a
#       custom command and hands those files to `add_dependencies(pelmar_resources <its target>)`;
#       they are installed with the rest and seen by the tests.
#
#   pelmar_fuzz(<name> SOURCES ... [DEPS ...])
#       A fuzz target `fuzz/<name>_fuzz.cpp` defining LLVMFuzzerTestOneInput. Every build makes
#       `pelmar_<name>_fuzz_replay`, which replays `fuzz/corpus/<name>/` as a `unit` test; with
#       clang and PELMAR_FUZZ=ON it also makes the libFuzzer binary `pelmar_<name>_fuzz`.

include_guard(GLOBAL)

set(PELMAR_EXPORTED_TARGETS "" CACHE INTERNAL "")
set(PELMAR_RESOURCE_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/pelmar/resources)
set(PELMAR_BUILD_RESOURCE_DIR ${PROJECT_BINARY_DIR}/${PELMAR_RESOURCE_INSTALL_DIR})
file(MAKE_DIRECTORY ${PELMAR_BUILD_RESOURCE_DIR})
add_custom_target(pelmar_resources ALL)
set(PELMAR_PKGCONFIG_LIBS "" CACHE INTERNAL "")

function(pelmar_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
    set(target pelmar_${name})
    if(ARG_SOURCES)
        add_library(${target} STATIC ${ARG_SOURCES})
        target_include_directories(${target} PUBLIC
                $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
                $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
        target_link_libraries(${target} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
        target_compile_features(${target} PUBLIC cxx_std_20)
        set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
        # Later libraries depend on earlier ones, so prepending keeps the static link order.
        set(PELMAR_PKGCONFIG_LIBS "-l${target} ${PELMAR_PKGCONFIG_LIBS}" CACHE INTERNAL "")
    else()
        add_library(${target} INTERFACE)
        target_include_directories(${target} INTERFACE
                $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
                $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
        target_link_libraries(${target} INTERFACE ${ARG_DEPS})
    endif()
    set_target_properties(${target} PROPERTIES EXPORT_NAME ${name})
    add_library(pelmar::${name} ALIAS ${target})
    add_library(Pelmar::${name} ALIAS ${target})
    set(PELMAR_EXPORTED_TARGETS ${PELMAR_EXPORTED_TARGETS} ${target} CACHE INTERNAL "")
endfunction()

function(pelmar_test_support name)
    if(NOT PELMAR_BUILD_TESTS)
        return()
    endif()
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    if(NOT ARG_SOURCES)
        message(FATAL_ERROR "pelmar_test_support(${name}) needs SOURCES")
    endif()
    add_library(pelmar_${name} STATIC ${ARG_SOURCES})
    target_link_libraries(pelmar_${name} PUBLIC ${ARG_DEPS})
    add_library(pelmar::${name} ALIAS pelmar_${name})
endfunction()

function(pelmar_test name)
    if(NOT PELMAR_BUILD_TESTS)
        return()
    endif()
    cmake_parse_arguments(ARG "" "LABEL" "EXTRA_LABELS;SOURCES;DEPS" ${ARGN})
    if(NOT ARG_LABEL)
        message(FATAL_ERROR "pelmar_test(${name}) needs LABEL unit or integration")
    endif()
    set(target pelmar_${name}_${ARG_LABEL}_test)
    add_executable(${target} ${ARG_SOURCES})
    target_link_libraries(${target} PRIVATE ${ARG_DEPS} GTest::gmock GTest::gtest_main)
    target_compile_definitions(${target} PRIVATE
            PELMAR_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
            PELMAR_FIXTURE_DIR="${PROJECT_SOURCE_DIR}/testing/fixtures")
    gtest_discover_tests(${target}
            DISCOVERY_MODE PRE_TEST
            TEST_LIST ${target}_TESTS
            PROPERTIES TIMEOUT 300)
    # gtest_discover_tests flattens list-valued properties, so the labels are set by a script of
    # our own that CTest includes after the discovered tests.
    set(labels ${ARG_LABEL} ${ARG_EXTRA_LABELS})
    set(labels_script ${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake)
    file(WRITE ${labels_script}
            "if(${target}_TESTS)\n"
            "  set_tests_properties(\${${target}_TESTS} PROPERTIES LABELS \"${labels}\")\n"
            "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels_script})
endfunction()

function(pelmar_fuzz name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    set(corpus ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
    if(PELMAR_BUILD_TESTS)
        add_executable(pelmar_${name}_fuzz_replay ${ARG_SOURCES}
                ${PROJECT_SOURCE_DIR}/fuzz/FuzzReplayMain.cpp)
        target_link_libraries(pelmar_${name}_fuzz_replay PRIVATE ${ARG_DEPS})
        add_test(NAME ${name}FuzzCorpusReplay COMMAND pelmar_${name}_fuzz_replay ${corpus})
        set_tests_properties(${name}FuzzCorpusReplay PROPERTIES LABELS "unit;fuzz" TIMEOUT 300)
    endif()
    if(PELMAR_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        add_executable(pelmar_${name}_fuzz ${ARG_SOURCES})
        target_link_libraries(pelmar_${name}_fuzz PRIVATE ${ARG_DEPS})
        target_compile_options(pelmar_${name}_fuzz PRIVATE -fsanitize=fuzzer)
        target_link_options(pelmar_${name}_fuzz PRIVATE -fsanitize=fuzzer)
    endif()
endfunction()

function(pelmar_bench name)
    if(NOT PELMAR_BUILD_BENCH)
        return()
    endif()
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_executable(pelmar_${name}_bench ${ARG_SOURCES})
    target_link_libraries(pelmar_${name}_bench PRIVATE ${ARG_DEPS} benchmark::benchmark)
    set_target_properties(pelmar_${name}_bench PROPERTIES
            RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bench)
endfunction()

function(pelmar_resources folder)
    get_filename_component(folder ${folder} ABSOLUTE)
    file(GLOB_RECURSE files CONFIGURE_DEPENDS LIST_DIRECTORIES false RELATIVE ${folder}
            ${folder}/*)
    get_property(known GLOBAL PROPERTY PELMAR_RESOURCE_FILES)
    set(staged "")
    foreach(file IN LISTS files)
        if(file IN_LIST known)
            message(FATAL_ERROR "resource ${file} of ${folder} is already given by another folder")
        endif()
        set_property(GLOBAL APPEND PROPERTY PELMAR_RESOURCE_FILES ${file})
        add_custom_command(OUTPUT ${PELMAR_BUILD_RESOURCE_DIR}/${file}
                COMMAND ${CMAKE_COMMAND} -E copy ${folder}/${file} ${PELMAR_BUILD_RESOURCE_DIR}/${file}
                DEPENDS ${folder}/${file}
                VERBATIM)
        list(APPEND staged ${PELMAR_BUILD_RESOURCE_DIR}/${file})
    endforeach()
    string(MD5 id ${folder})
    add_custom_target(pelmar_resources_${id} DEPENDS ${staged})
    add_dependencies(pelmar_resources pelmar_resources_${id})
endfunction()

