#!/usr/bin/env bash
# Builds the libFuzzer targets (the fuzz preset: clang, ASan + UBSan) and runs each of them.
#
#   scripts/fuzz.sh [--seconds N] [--smoke] [--no-build] [TARGET...]
#
#   --seconds N  fuzz each target for N seconds (default 60)
#   --smoke      replay every corpus, then fuzz each target for a few seconds: about one minute for
#                all targets together (for CI)
#   --no-build   use the targets already built
#   TARGET...    only these targets (default: all)
#
# Seeds come from fuzz/corpus/<target> and tests/data/fuzz/<target> (inputs that once failed); what
# a run learns goes to build/fuzz/corpus/<target>, findings to build/fuzz/findings/<target>/. The
# script prints the executions per target and ends non-zero when a target failed. A finding becomes
# a regression test by copying its file into tests/data/fuzz/<target>/ (the replay tests pick it up).
# Fuzzers run under nice -n 19: the machine is shared.
set -euo pipefail
cd "$(dirname "$0")/.."

all_targets=(lha_fuzz arj_fuzz rar_fuzz cab_fuzz tar_listing_fuzz sevenzip_listing_fuzz zip_listing_fuzz
             zip_directory_fuzz command_line_fuzz profile_fuzz detect_fuzz)
seconds=60
smoke=0
build=1
targets=()
while (($#)); do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --seconds=*) seconds="${1#*=}"; shift ;;
    --smoke) smoke=1; shift ;;
    --no-build) build=0; shift ;;
    -h|--help) sed -n '2,17p' "$0"; exit 0 ;;
    -*) echo "fuzz.sh: unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
((${#targets[@]})) || targets=("${all_targets[@]}")
if ((smoke)); then
  # Replay plus this per target keeps the whole smoke run near a minute on two cores.
  seconds=4
fi

if ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang++ is missing (scripts/deps.sh --fuzz installs clang and libclang-rt-14-dev)" >&2
  exit 2
fi

bin=build/fuzz/bin
if ((build)); then
  [ -f build/fuzz/build.ninja ] || cmake --preset fuzz >/dev/null
  nice -n 19 cmake --build build/fuzz -j2 --target "${targets[@]}"
fi

seeds_of() {
  local t="$1" d
  for d in "fuzz/corpus/$t" "tests/data/fuzz/$t"; do
    [ -d "$d" ] && echo "$d"
  done
  # The readers of our own libraries keep their corpora beside their tests.
  local lib=${t%_fuzz}
  for d in "tests/data/$lib/fuzz-corpus" "tests/data/$lib/corpus"; do
    [ -d "$d" ] && echo "$d"
  done
  return 0
}

# ASan's leak check at exit, UBSan reports as failures. Memory really used is limited by the RSS
# limit; the limit on one allocation is high because libarchive reserves, without touching it, a
# buffer of the size a cpio header declares for its name (gigabytes; the process stays small).
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
# The targets write their inputs to files in a scratch folder of this run, on a memory file system
# when there is one (the targets do not wait for the disk); a target that crashes cannot remove
# its own, so the folder goes when the run ends.
base="${TMPDIR:-/tmp}"
[ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm
TMPDIR="$(mktemp -d "$base/quorvel-fuzz-run.XXXXXX")"
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT
common=(-rss_limit_mb=2048 -malloc_limit_mb=8192 -timeout=30 -max_len=262144 -print_final_stats=1)

failed=()
summary=()
total=0
start=$SECONDS
for t in "${targets[@]}"; do
  exe="$bin/$t"
  if [ ! -x "$exe" ]; then
    echo "fuzz.sh: $exe is not built" >&2
    failed+=("$t (not built)")
    continue
  fi
  mapfile -t seeds < <(seeds_of "$t")
  work="build/fuzz/corpus/$t"
  findings="build/fuzz/findings/$t"
  mkdir -p "$work" "$findings"
  log="build/fuzz/logs/$t.log"
  mkdir -p "$(dirname "$log")"
  status=0
  if ((smoke)); then
    # Every seed once, exactly as the corpus holds it.
    nice -n 19 "$exe" "${common[@]}" -runs=0 -artifact_prefix="$findings/" "${seeds[@]}" \
      >"$log" 2>&1 || status=$?
    if ((status)); then
      failed+=("$t (replay)")
      tail -n 40 "$log" >&2
      continue
    fi
  fi
  nice -n 19 "$exe" "${common[@]}" -max_total_time="$seconds" -artifact_prefix="$findings/" \
    "$work" "${seeds[@]}" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  runs=${runs:-0}
  total=$((total + runs))
  if ((status)); then
    failed+=("$t")
    tail -n 60 "$log" >&2
    summary+=("$(printf '%-24s %12s executions in %ss  FAILED (see %s, %s)' "$t" "$runs" "$seconds" "$log" "$findings")")
  else
    summary+=("$(printf '%-24s %12s executions in %ss  ok' "$t" "$runs" "$seconds")")
  fi
done

echo
echo "fuzz run ($((SECONDS - start)) s):"
printf '  %s\n' "${summary[@]}"
echo "  total: $total executions"
if ((${#failed[@]})); then
  echo "failed: ${failed[*]}" >&2
  exit 1
fi
