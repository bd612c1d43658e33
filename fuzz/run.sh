#!/usr/bin/env bash
# Builds one libFuzzer target over the C++ core (clang, with address and
# undefined-behaviour sanitizers) and runs it for SECONDS.
#
#   fuzz/run.sh TARGET [SECONDS] [extra libFuzzer flags...]
#
# TARGET is formulas, rwn or project (the file fuzz/fuzz_TARGET.cpp). The
# working corpus lives in fuzz/build/corpus-TARGET and starts from the
# committed seeds in fuzz/seeds/TARGET; crashes land in fuzz/build/artifacts.
set -euo pipefail

target=${1:?usage: fuzz/run.sh TARGET [SECONDS] [libFuzzer flags...]}
seconds=${2:-60}
shift $(( $# < 2 ? $# : 2 ))

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
source_file="$here/fuzz_$target.cpp"
[[ -f $source_file ]] || { echo "no fuzz target '$target' ($source_file)" >&2; exit 2; }

as_root() { if [[ $(id -u) == 0 ]]; then "$@"; else sudo "$@"; fi; }

fuzzer_runtime_present() {
    command -v clang++ >/dev/null &&
        [[ -n $(find "$(clang++ -print-resource-dir)" -name 'libclang_rt.fuzzer*.a' 2>/dev/null | head -1) ]]
}

if ! fuzzer_runtime_present; then
    export DEBIAN_FRONTEND=noninteractive
    as_root apt-get update -qq
    command -v clang++ >/dev/null || as_root apt-get install -y -qq --no-install-recommends clang >/dev/null
    major=$(clang++ -dumpversion | cut -d. -f1)
    as_root apt-get install -y -qq --no-install-recommends "libclang-rt-$major-dev" >/dev/null
    fuzzer_runtime_present || { echo "clang's fuzzer runtime is still missing" >&2; exit 1; }
fi

build="$here/build"
mkdir -p "$build/artifacts" "$build/corpus-$target"
binary="$build/fuzz_$target"

# The core is everything in src/ except the Python boundary.
mapfile -t core < <(find "$root/src" -maxdepth 1 -name '*.cpp' ! -name 'python*' | sort)
if [[ ! -x $binary ]] || [[ -n $(find "$root/src" "$here" -maxdepth 1 \( -name '*.cpp' -o -name '*.hpp' \) -newer "$binary") ]]; then
    echo "building $binary"
    # Same numerics as the extension: no contraction into fused multiply-adds.
    clang++ -std=c++20 -O1 -g -fno-omit-frame-pointer -ffp-contract=off \
        -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
        -I"$root/src" "$source_file" "${core[@]}" -o "$binary"
fi

corpus="$build/corpus-$target"
seeds="$here/seeds/$target"
dict_flag=()
[[ -f $here/$target.dict ]] && dict_flag=(-dict="$here/$target.dict")
max_len=$(case $target in formulas) echo 128 ;; rwn) echo 4096 ;; *) echo 8192 ;; esac)

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
# A slow unit is reported (-report_slow_units) but only a unit stuck for a minute fails.
exec "$binary" "$corpus" $( [[ -d $seeds ]] && echo "$seeds" ) "${dict_flag[@]}" \
    -max_total_time="$seconds" -max_len="$max_len" -timeout=60 -report_slow_units=5 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" "$@"
