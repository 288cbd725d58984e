#!/usr/bin/env bash
# scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]: builds the libFuzzer targets of
# tests/fuzz with clang in build-fuzz/ (NUBO_FUZZ=ON: libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for the given time (default 60 s) on a copy
# of its corpus. New inputs go to build-fuzz/fuzz-work/<target>/corpus, the inputs of
# crashes, leaks, sanitizer reports, broken invariants and time-outs to
# build-fuzz/fuzz-work/<target>/findings/<date-time>/; the repository's corpus is only
# read. A seed that fails (a known finding not fixed yet) counts as a finding too.
# Targets: dispatch paths port ini logruns (default: all).
# Exits non-zero when any target found something.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
all=(dispatch paths port ini logruns)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")

# The longest input worth trying, per target.
max_len() {
  case $1 in
    dispatch) echo 8192 ;; # several lines, and lines beyond the 2047-byte limit
    ini) echo 4096 ;;
    logruns) echo 1024 ;;
    paths) echo 512 ;;
    port) echo 128 ;;
    *) echo 4096 ;;
  esac
}

for t in "${targets[@]}"; do
  [[ " ${all[*]} " == *" $t "* ]] || { echo "unknown target: $t (known: ${all[*]})" >&2; exit 2; }
done

NUBO_FUZZ=1 "$top/scripts/deps.sh"

build=$top/build-fuzz
if [ ! -f "$build/build.ninja" ]; then
  CXX=clang++ nice -n 10 cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DNUBO_FUZZ=ON
fi
nice -n 10 cmake --build "$build" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

summary=()
found=0
for t in "${targets[@]}"; do
  work=$build/fuzz-work/$t
  findings=$work/findings/$(date +%Y%m%d-%H%M%S)
  mkdir -p "$work/corpus" "$findings"
  cp -n "$top/tests/fuzz/corpus/$t/"* "$work/corpus/" 2>/dev/null || true
  dict=()
  [ -f "$top/tests/fuzz/$t.dict" ] && dict=(-dict="$top/tests/fuzz/$t.dict")
  log=$work/last-run.log
  echo "== $t: ${seconds}s, max_len $(max_len "$t")"
  set +e
  # Fork mode: the fuzzing runs in a child process that is restarted after a finding,
  # so one known finding (in the corpus until it is fixed) does not end the run.
  (cd "$work" && nice -n 10 "$build/tests/fuzz/fuzz_$t" "${dict[@]}" -fork=1 -ignore_crashes=1 \
     -ignore_timeouts=1 -ignore_ooms=1 -max_total_time="$seconds" -max_len="$(max_len "$t")" -timeout=10 \
     -rss_limit_mb=2048 -artifact_prefix="$findings/" "$work/corpus") >"$log" 2>&1
  rc=$?
  set -e
  new=$(find "$findings" -type f | sort)
  last=$(grep -E '^#[0-9]+: cov:' "$log" | tail -1)
  runs=$(sed -E 's/^#([0-9]+):.*/\1/' <<<"$last")
  speed=$(grep -o 'exec/s [0-9]*' <<<"$last" | grep -o '[0-9]*$' || true)
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]* corp: [0-9]*' <<<"$last" || true)
  if [ "$rc" -ne 0 ] || [ -n "$new" ]; then
    found=1
    result="FINDING: $(grep -c . <<<"$new") input(s) in $findings (exit $rc)"
    # What each of the first new inputs breaks, replayed once (full log: $log).
    for f in $(head -5 <<<"$new"); do
      echo "   $f:"
      (cd "$work" && "$build/tests/fuzz/fuzz_$t" -runs=1 "$f" 2>&1) |
        grep -E -A1 'fuzz invariant broken|^==[0-9]+==ERROR|runtime error:' | grep -v '^--' | cut -c1-240 |
        head -4 | sed 's/^/     /' || true
    done
  else
    rmdir "$findings"
    result="no finding"
  fi
  summary+=("$(printf '%-9s runs %-9s exec/s %-6s %-30s %s' "$t" "${runs:-?}" "${speed:-?}" "${cov:-cov: ?}" "$result")")
done

echo
echo "== fuzz summary (${seconds}s per target)"
printf '%s\n' "${summary[@]}"
exit $found
