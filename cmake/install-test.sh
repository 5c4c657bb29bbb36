#!/usr/bin/env bash
# Installs the SDK from a build tree into a temporary prefix, moves the prefix elsewhere (a host
# unpacks it where it likes), then checks that a host app can use it from there:
#   - every installed header compiles alone, one translation unit each, with g++ and clang++;
#   - the command-line tools pelmar-service and livestreamer are in <prefix>/bin and run;
#   - the consumer app of cmake/consumer builds through find_package(Pelmar), linking
#     pelmar::pelmar (the name a build from source gives) and finding Pelmar::pelmar too, and runs
#     (it loads a named picture from the moved prefix);
#   - the same app builds through pkg-config into <prefix>/bin and runs; copied elsewhere, it
#     says on standard error that it found no resource folder, naming PELMAR_RESOURCE_DIR;
#   - the same app builds from source, as the README shows: a CMake project beside a copy of the
#     source tree that add_subdirectory()s it (tests, tools and benchmarks off) and links
#     Pelmar::pelmar (the installed package's name), finding pelmar::pelmar too; only what the app
#     needs is built, in parallel
#     (PELMAR_INSTALL_TEST_JOBS, default all cores), in <build dir>/install-test-from-source, which
#     is kept so that a later run rebuilds only what changed;
#   - every host app examples/<name>/ (a CMake project using find_package(Pelmar) that builds an
#     executable <name>) builds and runs, exiting 0, with the command line its test-args file
#     gives (see below), against the installed pelmar-service.
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

step "the tools in <prefix>/bin"
for tool in pelmar-service livestreamer; do
    [ -x "$prefix/bin/$tool" ] || { echo "$tool is not installed in <prefix>/bin"; exit 1; }
    "$prefix/bin/$tool" --help >"$work/$tool-help" 2>&1 || {
        echo "$prefix/bin/$tool --help failed:"; cat "$work/$tool-help"; exit 1;
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

step "consumer through pkg-config, outside <prefix>/bin"
mkdir -p "$work/elsewhere/bin"
cp "$prefix/bin/pc-consumer" "$work/elsewhere/bin/"
if env -u PELMAR_RESOURCE_DIR "$work/elsewhere/bin/pc-consumer" \
    >/dev/null 2>"$work/elsewhere/err"; then
    echo "pc-consumer found its pictures outside the prefix"
    exit 1
fi
if [ "$(grep -c 'PELMAR_RESOURCE_DIR' "$work/elsewhere/err")" != 1 ]; then
    echo "pc-consumer outside the prefix did not say once where the resources were looked for:"
    cat "$work/elsewhere/err"
    exit 1
fi

step "consumer from source through add_subdirectory"
from_source=$build/install-test-from-source
rm -rf "$from_source/app"
mkdir -p "$from_source/app/pelmar-sdk"
cp -p "$source/cmake/consumer/from-source/CMakeLists.txt" "$source/cmake/consumer/main.cpp" \
    "$source/cmake/consumer/LiveEncoderCheck.h" "$from_source/app/"
# The tracked and new files of the source tree, not its build folders; times are kept, so the
# kept build tree rebuilds only what changed.
if git -C "$source" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git -C "$source" ls-files -z --cached --others --exclude-standard \
        | (cd "$source" && tar --null --ignore-failed-read -T - -cf - 2>/dev/null) \
        | tar -xf - -C "$from_source/app/pelmar-sdk"
else
    tar -C "$source" --exclude='./build*' -cf - . | tar -xf - -C "$from_source/app/pelmar-sdk"
fi
launcher() { sed -n "s/^CMAKE_$1_COMPILER_LAUNCHER:[A-Z]*=//p" "$build/CMakeCache.txt"; }
# The SDK and the app are built together here with the same flags, so the sanitizers of the
# build under test are not needed for a sound link, and the build is quicker without them.
cmake -S "$from_source/app" -B "$from_source/build" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_CXX_COMPILER_LAUNCHER="$(launcher CXX)" -DCMAKE_C_COMPILER_LAUNCHER="$(launcher C)" \
    >"$from_source/configure.log" 2>&1 || { cat "$from_source/configure.log"; exit 1; }
cmake --build "$from_source/build" --target app -j "${PELMAR_INSTALL_TEST_JOBS:-$(nproc)}" \
    >"$from_source/build.log" 2>&1 || {
    grep -E "FAILED|error" "$from_source/build.log" | head -40
    exit 1
}
"$from_source/build/app"

shopt -s nullglob
# The examples talk to the service emulator and to an RTMP server on loopback: both start here.
# An example's test-args file holds its command line, with @API@, @CDN_API@, @DEV_API@,
# @FILE_SERVER@ and @RTMP@ standing for where those servers listen.
start_servers() {
    mkdir -p "$work/service" "$work/nginx"
    "$prefix/bin/pelmar-service" --data "$work/service/data" \
        >"$work/service/out" 2>&1 &
    service_pid=$!
    for _ in $(seq 100); do
        grep -q '^file-server ' "$work/service/out" && break
        sleep 0.1
    done
    url() { awk -v k="$1" '$1 == k { print $2 }' "$work/service/out"; }
    api=$(url api) cdn_api=$(url cdn-api) dev_api=$(url dev-api) file_server=$(url file-server)
    [ -n "$file_server" ] || { echo "pelmar-service did not start:"; cat "$work/service/out"; exit 1; }
    rtmp_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    cat >"$work/nginx/nginx.conf" <<CONF
load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log info;
rtmp { server { listen 127.0.0.1:$rtmp_port; application live { live on; } } }
events { worker_connections 64; }
CONF
    /usr/sbin/nginx -p "$work/nginx/" -e "$work/nginx/error.log" -c "$work/nginx/nginx.conf" &
    nginx_pid=$!
    for _ in $(seq 100); do
        (exec 3<>"/dev/tcp/127.0.0.1/$rtmp_port") 2>/dev/null && break
        sleep 0.1
    done
    trap 'kill $service_pid $nginx_pid 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
}

examples=("$source"/examples/*/CMakeLists.txt)
[ ${#examples[@]} -eq 0 ] || start_servers
for project in "${examples[@]}"; do
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
    args=()
    if [ -f "$dir/test-args" ]; then
        line=$(sed -e "s|@API@|$api|g" -e "s|@CDN_API@|$cdn_api|g" -e "s|@DEV_API@|$dev_api|g" \
            -e "s|@FILE_SERVER@|$file_server|g" -e "s|@RTMP@|rtmp://127.0.0.1:$rtmp_port/live|g" \
            "$dir/test-args")
        read -r -a args <<<"$line"
    fi
    (cd "$work/examples/$name" && "./$name" "${args[@]}")
done
