#!/usr/bin/env bash
# The whole pytest suite against the extension built with AddressSanitizer and
# UndefinedBehaviorSanitizer (gcc). Python itself is not instrumented, so the
# sanitizer runtimes are preloaded into the interpreter.
#
#   ci/sanitize.sh [pytest arguments...]
#
# PYTHON selects the interpreter (default python3); it needs pytest and hypothesis.
set -euo pipefail
cd "$(dirname "$0")/.."

python=$(command -v "${PYTHON:-python3}")
build=build-sanitize
if ! command -v cmake >/dev/null || ! command -v ninja >/dev/null; then
    "$python" -m pip install -q cmake ninja
fi

sanitize="-fsanitize=address,undefined"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE="$python" \
    -DRILLWRIGHT_EXTRA_FLAGS="$sanitize;-fno-sanitize-recover=all;-fno-omit-frame-pointer;-g" \
    -DCMAKE_MODULE_LINKER_FLAGS="$sanitize" -DCMAKE_SHARED_LINKER_FLAGS="$sanitize" >/dev/null
cmake --build "$build" -j2
# The companion package's sources join its private extension in the build tree.
cp -r python/rillwright_tools/. "$build/rillwright_tools/"

# CPython leaks by design at exit, so leak detection stays off here; the fuzz
# targets check the core for leaks instead.
export LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export PYTHONPATH="$PWD/$build"
# Tests that start servers or worker clusters skip themselves here.
export RILLWRIGHT_SANITIZE=1
exec "$python" -m pytest -q -p no:cacheprovider tests "$@"
