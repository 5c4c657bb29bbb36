# Third-party libraries, all from Debian 12 packages (the Makefile installs them).
# Installed consumers get the same lookups from PelmarConfig.cmake (see PelmarPackage.cmake.in).

include_guard(GLOBAL)

find_package(Threads REQUIRED)
find_package(nlohmann_json 3.10 REQUIRED)
find_package(CURL REQUIRED)
# MD5 of long image cache keys.
find_package(OpenSSL REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET
        libavformat libavcodec libavutil libswscale libswresample)
pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo)
# Text layout with font fallback, painted through cairo.
pkg_check_modules(PANGOCAIRO REQUIRED IMPORTED_TARGET pangocairo)
find_package(ZXing REQUIRED)

if(PELMAR_BUILD_TESTS)
    find_package(GTest REQUIRED)
    find_path(HTTPLIB_INCLUDE_DIR httplib.h REQUIRED)
    # The painter's tests ask which installed faces hold a character.
    pkg_check_modules(FONTCONFIG REQUIRED IMPORTED_TARGET fontconfig)
    find_package(OpenSSL REQUIRED)
endif()
if(PELMAR_BUILD_BENCH)
    find_package(benchmark REQUIRED)
endif()
