#!/usr/bin/env bash
# Speed and accuracy report against FFTW: builds the comparison program in
# Release, runs it and draws the charts.
#
#   tools/bench_report.sh [--quick] [--sizes NAME] [options]
#
# Results go to results/<date>-<time>-<sizes>[-quick]/ and results/latest
# points at the newest run. See --help for the options.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build-bench"
results="$root/results"
out=""
build_it=1
plots=1
fresh_fftw=0
sizes=core
quick=0
pass=()

usage() {
  cat <<'EOF'
usage: tools/bench_report.sh [options]
  --quick               short timing, lengths up to 65536 (about a minute)
  --sizes NAME|LIST     core (default), real, small, pow2, all, or a list such
                        as 1024,1000,100x4096 (COUNTxN = a batch of COUNT)
  --kinds LIST          cf,cb,rf,rb: complex forward/backward, real forward/
                        backward (default all four; rf,rb for --sizes real)
  --levels LIST|all     processor levels to compare (default 0,5)
  --threads LIST        thread counts (default 1)
  --placement LIST      oop and/or inplace (default oop)
  --budget SECONDS      timing time per case (default 0.6, quick 0.06)
  --no-accuracy         skip the long-double reference and the error columns
  --fftw-timelimit S    cap each fresh FFTW_MEASURE planning at S seconds
  --fresh-fftw          forget the FFTW plans kept from earlier runs
  --out DIR             results folder (default results/<date>-<time>-<sizes>)
  --build-dir DIR       build folder (default build-bench)
  --no-build            run the program already built
  --no-plots            no charts (table, CSV and data files only)
Environment: TQS_LEVELS="0;5" builds only those processor levels (faster
build; the others then fall back to the nearest built level below).
EOF
}

while [[ $# -gt 0 ]]; do
  case "$1" in
    --quick) quick=1; pass+=("$1") ;;
    --sizes) sizes="$2"; pass+=("$1" "$2"); shift ;;
    --kinds|--levels|--threads|--placement|--budget|--fftw-timelimit)
      [[ $# -ge 2 ]] || { echo "$1 needs a value" >&2; exit 2; }
      pass+=("$1" "$2"); shift ;;
    --no-accuracy) pass+=("$1") ;;
    --fresh-fftw) fresh_fftw=1 ;;
    --out) out="$2"; shift ;;
    --build-dir) build="$2"; shift ;;
    --no-build) build_it=0 ;;
    --no-plots) plots=0 ;;
    -h|--help) usage; exit 0 ;;
    *) echo "unknown option: $1" >&2; usage >&2; exit 2 ;;
  esac
  shift
done

# ---- Tools: FFTW 3, gnuplot, pkg-config and the build tools, installed with
# apt-get only when missing.
"$root/tools/install_deps.sh" bench

# ---- Build (Release, benchmarks on, tests off) in its own folder.
if [[ $build_it -eq 1 ]]; then
  # Always named, so that a folder configured earlier with fewer levels
  # gets all of them back.
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTQS_BUILD_BENCH=ON -DTQS_BUILD_TESTS=OFF "-DTQS_LEVELS=${TQS_LEVELS:-0;1;2;3;4;5}" >/dev/null
  ninja -C "$build" -j"$(nproc)" compare
fi
program="$build/bench/compare"
[[ -x "$program" ]] || { echo "no $program (run without --no-build)" >&2; exit 1; }

# ---- Run.
mkdir -p "$results"
if [[ -z "$out" ]]; then
  tag=$(printf '%s' "$sizes" | tr -c 'A-Za-z0-9_-' '_' | cut -c1-40)
  out="$results/$(date +%Y%m%d-%H%M%S)-$tag"
  [[ $quick -eq 0 ]] || out="$out-quick"
fi
cache="$results/fftw-plans.txt"
[[ $fresh_fftw -eq 0 ]] || rm -f "$cache"
"$program" "${pass[@]}" --fftw-cache "$cache" --out "$out"
case "$out" in
  "$results"/*) ln -sfn "$(basename "$out")" "$results/latest" ;;
esac

# ---- Charts.
if [[ $plots -eq 1 ]]; then
  # Series without any point (ours before a kind commits) are expected.
  gnuplot -e "dir='$out'" "$root/tools/bench_report.gp" 2>&1 |
    grep -v -e "no valid points" -e "empty y range" >&2 || true
  echo "charts:"
  for f in "$out"/*.png; do echo "  $f"; done
fi
