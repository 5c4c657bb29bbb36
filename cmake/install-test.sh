#!/usr/bin/env bash
# Installs the SDK from a build tree into a temporary prefix, then builds the consumer app of
# cmake/consumer against it twice: through find_package(Pelmar) and through pkg-config.
# Usage: install-test.sh <build dir> <source dir> <c++ compiler> [extra compile/link flags]
set -euo pipefail
build=$1 source=$2 cxx=$3 flags=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null

cmake -S "$source/cmake/consumer" -B "$work/cmake-build" -G Ninja \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_PREFIX_PATH="$work/prefix" \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
"$work/cmake-build/consumer"

export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig"
# shellcheck disable=SC2046,SC2086
"$cxx" $flags -o "$work/pc-consumer" "$source/cmake/consumer/main.cpp" \
    $(pkg-config --cflags --libs pelmar)
"$work/pc-consumer"
