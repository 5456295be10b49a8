#!/bin/bash
# Installs the build into a fresh prefix, builds a small C application
# against it through pkg-config and through find_package(TEV), and runs both.
# Arguments: the build directory, a PNG file.
set -euo pipefail
build=$1
image=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
program=$(pkg-config --variable=browser_process TEVBrowser)
test -x "$program"
test -f "$prefix/libexec/tev/web-extensions/libtev_web_extension.so"
for library in TEVBrowser tevnative tevrender; do
  test "$(readelf -d "$prefix/lib/lib$library.so" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')" = "lib$library.so.1"
done

echo "== pkg-config =="
# shellcheck disable=SC2046
cc -std=c11 -Wall -Wextra -Werror -o "$work/consumer-pc" "$here/consumer/consumer.c" \
  $(pkg-config --cflags --libs TEVBrowser tevnative tevrender)
LD_LIBRARY_PATH=$prefix/lib "$work/consumer-pc" "$program" "$image" | tee "$work/pc.out"

echo "== find_package(TEV) =="
cmake -S "$here/consumer" -B "$work/consumer-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer-build" >/dev/null
# The imported targets carry the prefix's library directory as the run path.
"$work/consumer-build/consumer" "$program" "$image" | tee "$work/cmake.out"

for out in "$work/pc.out" "$work/cmake.out"; do
  grep -qx "page blue" "$out"
  grep -q '^image [1-9][0-9]*x[1-9][0-9]*$' "$out"
  grep -q '^report {' "$out"
done
echo "install test passed"
