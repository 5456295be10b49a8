#!/usr/bin/env bash
# Sets up, builds and runs every test: a normal build, a build under
# AddressSanitizer + UndefinedBehaviorSanitizer, and the fuzzers for a bounded time.
#
# Every stage runs as CI runs it, whatever the caller's session: no display,
# no Wayland, no XDG_RUNTIME_DIR, standard input from /dev/null.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if [ -z "${TEV_TEST_AS_CI:-}" ]; then
  exec env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR TEV_TEST_AS_CI=1 bash "$0" "$@" < /dev/null
fi

# The last line names the stage that failed.
stage="setup"
trap 'status=$?; if [ $status -ne 0 ]; then echo "scripts/test.sh: FAILED in stage: $stage (exit $status)"; fi' EXIT
begin_stage() {
  stage=$1
  echo "== $stage =="
  stage_started=$SECONDS
}
end_stage() { echo "== $stage: passed in $((SECONDS - stage_started)) s =="; }

bash scripts/setup.sh

jobs=$(nproc)
fuzz_seconds=${TEV_FUZZ_SECONDS:-30}

begin_stage "normal build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"
end_stage

begin_stage "AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTEV_SANITIZE=ON -DTEV_BENCH=OFF
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions="$root/tests/lsan.supp":print_suppressions=0 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"
end_stage

begin_stage "fuzzers (${fuzz_seconds}s each, ASan + UBSan)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTEV_FUZZ=ON -DTEV_TESTS=OFF -DTEV_BENCH=OFF
cmake --build build-fuzz -j "$jobs" --target fuzzers
for fuzzer in build-fuzz/bin/fuzz_*; do
  name=$(basename "$fuzzer")
  corpus="build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds=""
  if [ "$name" = fuzz_image ] && [ -d "$root/build/image_fixtures" ]; then seeds="$root/build/image_fixtures"; fi
  echo "-- $name"
  log="build-fuzz/$name.log"
  # The decoders' own diagnostics are many; they go to the log, shown on failure.
  # The library accepts images of up to 4 GiB of float pixels, above
  # libFuzzer's default memory limits; an input still running after 300 s is a hang.
  if ! "$fuzzer" -max_total_time="$fuzz_seconds" -rss_limit_mb=12288 -malloc_limit_mb=8192 -timeout=300 \
      -print_final_stats=1 "$corpus" $seeds > "$log" 2>&1; then
    tail -n 80 "$log"
    echo "$name found a problem (whole output in $log)"
    exit 1
  fi
  grep -E '^(Done|stat::number_of_executed_units)' "$log" || true
done
end_stage

echo "scripts/test.sh: all tests passed"
