#!/usr/bin/env bash
# Fuzzes the XML parser for a bounded time: builds the libFuzzer target with clang-14,
# AddressSanitizer and UndefinedBehaviorSanitizer in build-fuzz/, replays the saved
# regression inputs, then fuzzes from seeds made of the fixtures. Exits non-zero on a crash,
# leak, timeout, sanitizer report or broken round-trip check; the input that did it is
# copied to tests/fuzz/regressions/. At the end it prints libFuzzer's executions per second and
# those of each entry point. Needs the Debian packages clang-14 and libclang-rt-14-dev.
#   scripts/fuzz.sh [build|run]  only build the target, or only run it (default: both)
#   HYPERVALE_FUZZ_SECONDS  fuzzing time (default 60)
#   HYPERVALE_JOBS          build parallelism (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
step=${1:-all}
case $step in build | run | all) ;; *) echo "usage: $0 [build|run]" >&2; exit 2 ;; esac

seconds=${HYPERVALE_FUZZ_SECONDS:-60}
jobs=${HYPERVALE_JOBS:-2}
dir=build-fuzz
regressions=tests/fuzz/regressions
target=$dir/tests/fuzz/fuzz_parser
corpus=$dir/corpus
artifacts=$dir/artifacts
log=$dir/fuzz.log

for tool in clang-14 clang++-14; do
  if ! command -v "$tool" >/dev/null; then
    echo "fuzz.sh: $tool is missing (Debian: clang-14 libclang-rt-14-dev)" >&2
    exit 2
  fi
done

if [ "$step" != run ]; then
  echo "== build $target =="
  # -O2: the readers run about 15% faster than at -O1 under the sanitizers; line tables are all
  # a crash report needs (inlined frames included).
  CC=clang-14 CXX=clang++-14 cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug \
    "-DCMAKE_CXX_FLAGS_DEBUG=-O2 -gline-tables-only" -DHYPERVALE_WERROR=ON \
    -DCMAKE_UNITY_BUILD=ON -DHYPERVALE_FUZZ=ON -DHYPERVALE_BUILD_TESTS=OFF -DHYPERVALE_BUILD_EXAMPLES=OFF \
    -DHYPERVALE_BUILD_BENCH=OFF -DHYPERVALE_SANITIZE=ON >/dev/null
  cmake --build "$dir" --target fuzz_parser -j"$jobs"
fi
[ "$step" = build ] && exit 0

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
options=(-rss_limit_mb=2048 -timeout=10 -detect_leaks=1 -artifact_prefix="$artifacts/")
fuzz_options=(-max_len=24576)
# Every run starts from the seeds alone: a corpus kept from earlier runs would hold seeds that
# make_corpus.sh no longer writes, and make the rates depend on what ran before.
rm -rf "$artifacts" "$corpus"
mkdir -p "$corpus" "$artifacts"
: >"$log"

rc=0
echo "== replay $regressions =="
mapfile -t saved < <(find "$regressions" -type f ! -name 'README*' | sort)
if [ ${#saved[@]} -gt 0 ]; then
  if ! "$target" "${options[@]}" "${saved[@]}" >>"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz.sh: FAILED on a saved input: $(grep '^Running: ' "$log" | tail -n 1)" >&2
    exit 1
  fi
  echo "${#saved[@]} inputs replayed"
fi

echo "== seed corpus =="
tests/fuzz/make_corpus.sh "$corpus"
# Small regressions seed too; the megabyte ones would only slow every mutation down. Small inputs
# run many times faster and reach the same readers: make_corpus.sh cuts lists into seeds of a few
# trimmed items (2 KB), and inputs stay within 24 KB.
find "$regressions" -type f ! -name 'README*' -size -24k -exec cp {} "$corpus/" \;
echo "== fuzz for ${seconds}s =="
HYPERVALE_FUZZ_RATES=1 "$target" "${options[@]}" "${fuzz_options[@]}" -max_total_time="$seconds" -print_final_stats=1 \
  -dict=tests/fuzz/xml.dict "$corpus" >>"$log" 2>&1 || rc=$?
if [ "$rc" -eq 0 ]; then
  # libFuzzer's final statistics, then the rates of the entry points (printed at exit).
  grep -E '^(Done [0-9]+ runs|stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb))' "$log" || true
  sed -n '/^entry point rates/,/^all entry points/p' "$log"
else
  tail -n 12 "$log"
fi

# libFuzzer stops at the first fault; the sanitizer report or the check line names it.
fault=$(grep -oE 'ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer): [A-Za-z_-]+|runtime error|fuzz check failed|ERROR: libFuzzer: [a-z-]+' "$log" | head -n 1 || true)
case $fault in
  *LeakSanitizer*) fault=leak ;;
  "runtime error") fault=undefined_behaviour ;;
  "fuzz check failed") fault=check ;;
  ERROR:*) fault=${fault##*: } ;;
esac
found=0
for artifact in "$artifacts"/*; do
  [ -f "$artifact" ] || continue
  found=1
  byte=$(od -An -tu1 -N1 "$artifact" | tr -d ' ')
  entry=$(tests/fuzz/make_corpus.sh --name "${byte:-0}")
  kind=${fault:-$(basename "$artifact" | cut -d- -f1)}
  name="$entry-${kind//-/_}-$(sha1sum "$artifact" | cut -c1-12)"
  cp "$artifact" "$regressions/$name"
  echo "fuzz.sh: new regression input $regressions/$name (details in $log)"
done

if [ "$rc" -ne 0 ] || [ "$found" -ne 0 ]; then
  echo "fuzz.sh: FAILED (libFuzzer exit $rc; details in $log)" >&2
  exit 1
fi
echo "fuzz.sh: no fault found"
