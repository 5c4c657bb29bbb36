# What the examples share, as the target example::common (an interface library): its headers
# (`#include "ServiceOptions.h"`) and the SDK they are written against. Each example includes this
# file after find_package(Pelmar) and links example::common; including it twice defines it once.
if(NOT TARGET example_common)
    add_library(example_common INTERFACE)
    add_library(example::common ALIAS example_common)
    target_include_directories(example_common INTERFACE "${CMAKE_CURRENT_LIST_DIR}")
    target_link_libraries(example_common INTERFACE Pelmar::pelmar)
endif()
