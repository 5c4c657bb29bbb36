#!/usr/bin/env bash
# Installs the SDK from a build tree into a temporary prefix, moves the prefix elsewhere (a host
# unpacks it where it likes), then checks that a host app can use it from there:
#   - every installed header compiles alone, one translation unit each, with g++ and clang++;
#   - the consumer app of cmake/consumer builds through find_package(Pelmar) and runs (it loads a
#     named picture from the moved prefix);
#   - the same app builds through pkg-config into <prefix>/bin and runs;
#   - every host app examples/<name>/ (a CMake project using find_package(Pelmar) that builds an
#     executable <name>) builds and runs, exiting 0.
# Usage: install-test.sh <build dir> <source dir> <c++ compiler> [extra compile/link flags]
set -euo pipefail
build=$1 source=$2 cxx=$3 flags=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

step() { echo "== $*"; }

cmake --install "$build" --prefix "$work/installed" >/dev/null
mv "$work/installed" "$work/prefix"
prefix=$work/prefix
# Nothing may still point at the old place.
if grep -rIl --exclude-dir=include "$work/installed" "$prefix" >/dev/null; then
    echo "the installed package names its install folder:"
    grep -rIl --exclude-dir=include "$work/installed" "$prefix"
    exit 1
fi

for compiler in g++ clang++; do
    step "every installed header alone, $compiler"
    cmake -S "$source/cmake/consumer/headers" -B "$work/headers-$compiler" -G Ninja \
        -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
    cmake --build "$work/headers-$compiler" -- -k 0 >"$work/headers-$compiler.log" 2>&1 || {
        grep -E "FAILED|error" "$work/headers-$compiler.log" | head -40
        exit 1
    }
done

step "consumer through find_package(Pelmar)"
cmake -S "$source/cmake/consumer" -B "$work/cmake-build" -G Ninja \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
"$work/cmake-build/consumer"

step "consumer through pkg-config, in <prefix>/bin"
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
mkdir -p "$prefix/bin"
# shellcheck disable=SC2046,SC2086
"$cxx" $flags -o "$prefix/bin/pc-consumer" "$source/cmake/consumer/main.cpp" \
    $(pkg-config --cflags --libs pelmar)
"$prefix/bin/pc-consumer"

shopt -s nullglob
for project in "$source"/examples/*/CMakeLists.txt; do
    dir=$(dirname "$project")
    name=$(basename "$dir")
    step "examples/$name"
    cmake -S "$dir" -B "$work/examples/$name" -G Ninja \
        -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
    cmake --build "$work/examples/$name" >/dev/null
    if [ ! -x "$work/examples/$name/$name" ]; then
        echo "examples/$name builds no executable named $name"
        exit 1
    fi
    (cd "$work/examples/$name" && "./$name")
done
