#!/usr/bin/env bash
# The benchmark: what the service costs, as ratios against references measured in the same run.
#   scripts/bench.sh [--preset NAME] [--build-dir DIR] [--product EXE] [--cycles N] [--rounds N]
#                    [--idle SECONDS] [--out FILE] [--no-build]
# Builds the preset (default: default, or x64 on a host that cannot run 32-bit programs natively: never
# under emulation, whose speed its ratios would measure; release measures the shipped build, in
# build/release) unless
# --no-build, then under Wine in the build tree's prefix: start
# and stop from outside against the reference services, the in-process figures (footprint,
# arrival to launch, the control handler's occupancy, timer checks by list length), the idle cost
# of both services and the stripped sizes. Prints a table and writes every figure as JSON (default
# BUILD_DIR/bench/bench.json) and draws the start and stop ladder beside it (ladder.png). --product
# measures another build of MarrowbankServer.exe (for example the release build) in place of the one the
# build tree made. Product and references are always of one architecture, the build tree's: no ratio
# compares a 32-bit figure with a 64-bit one.
set -euo pipefail
cd "$(dirname "$0")/.."

preset="" build_dir="" product="" cycles=20 rounds=20 idle=60 out="" build=1
while [ $# -gt 0 ]; do
  case "$1" in
    --preset) preset=$2; shift 2 ;;
    --build-dir) build_dir=$2; shift 2 ;;
    --product) product=$2; shift 2 ;;
    --cycles) cycles=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --idle) idle=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --no-build) build=0; shift ;;
    *) echo "usage: $0 [--preset NAME] [--build-dir DIR] [--product EXE] [--cycles N] [--rounds N]" \
            "[--idle SECONDS] [--out FILE] [--no-build]" >&2
       exit 2 ;;
  esac
done
# Never under emulation: its ratios would measure the emulator, not the service. A host that runs 32-bit
# programs only under QEMU measures the 64-bit test build instead, and says so.
probe_status=0
probe_line=$(scripts/host-probe.sh) || probe_status=$?
if [ -z "$preset" ]; then
  case $probe_status in
    0) preset=default ;;
    3) preset=x64
       echo "bench: measuring the 64-bit test build: this host runs 32-bit programs only under QEMU's user-mode" \
            "emulator, whose speed the ratios would measure instead of the service's" ;;
    *) preset=x64 ;;
  esac
fi
build_dir=${build_dir:-build/$preset}

if [ "$build" = 1 ]; then
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
fi
bench=$build_dir/bench
source scripts/wine-env.sh
arch=$(wine_arch_of "$build_dir")
if [ "$arch" = win32 ] && [ "$probe_status" != 0 ]; then
  echo "bench: $build_dir is a 32-bit build and this host does not run 32-bit programs natively ($probe_line);" \
       "the benchmark never runs under emulation: measure build/x64 (--preset x64)" >&2
  exit 1
fi
wine_use_arch "$arch"
if [ "$arch" = win64 ]; then triplet=x86_64-w64-mingw32 bits="x86_64 (64-bit test build, never shipped)"
else triplet=i686-w64-mingw32 bits="i686 (32-bit, as shipped)"; fi
out=${out:-$bench/bench.json}
[ -x "$bench/bench_service.exe" ] || { echo "no benchmark programs in $bench: build first" >&2; exit 1; }
if [ -n "$product" ]; then
  want=$([ "$arch" = win64 ] && echo pei-x86-64 || echo pei-i386)
  $triplet-objdump -f "$product" | grep -q "file format $want" ||
    { echo "--product $product is not of this build tree's architecture ($want): ratios compare one architecture" >&2; exit 1; }
  cp "$product" "$bench/MarrowbankServer.exe"
fi
prefix=$(cd "$build_dir" && pwd)/wineprefix
run() { scripts/wine-run.sh "$build_dir" "$@"; }

mkdir -p "$build_dir/wine-logs"
scripts/wine-prefix.sh setup "$build_dir" >"$build_dir/wine-logs/bench-setup.log" 2>&1 ||
  { echo "the prefix could not be set up:" >&2; sed 's/^/  | /' "$build_dir/wine-logs/bench-setup.log" >&2; exit 1; }
keeper_pid=""
cleanup() {
  run "$bench/bench_service.exe" release >/dev/null 2>&1 || true
  if [ -n "$keeper_pid" ]; then kill "$keeper_pid" 2>/dev/null || true; fi
  scripts/wine-prefix.sh teardown "$build_dir" >/dev/null 2>&1 || true
}
trap cleanup EXIT
# Wine ends service processes once no ordinary process of the prefix is left.
run "$bench/keeper.exe" 3600 </dev/null >/dev/null 2>&1 &
keeper_pid=$!

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
cores=$(nproc)
load=$(cut -d' ' -f1-3 /proc/loadavg)
wine_version=$(wine --version)
echo "Machine: $cores cores, $cpu; $wine_version; load average at start $load; build tree $build_dir"
echo "Architecture: $bits; product and references alike"
echo

run "$bench/bench_service.exe" measure "$cycles" "$bench/service.json"
run "$bench/bench_inprocess.exe" "$rounds" "$bench/inprocess.json"

# Idle: the product and the reference both running, polling off, for $idle seconds. Their Linux
# processes' context switches (every wake-up of any of their threads) and CPU time are read
# from /proc before and after.
unix_pid() {
  local p
  for p in $(pgrep -f "$1" || true); do
    if tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$prefix"; then echo "$p"; return; fi
  done
}
wakeups() { cat /proc/"$1"/task/*/status | awk '/ctxt_switches/ { n += $2 } END { print n }'; }
cpu_ticks() { sed 's/.*) //' /proc/"$1"/stat | awk '{ print $12 + $13 }'; }
run "$bench/bench_service.exe" hold >/dev/null
ours_pid=$(unix_pid 'Marrowbank Bench.MarrowbankServer.exe')
ref_pid=$(unix_pid 'Marrowbank Bench.reference_service.exe')
[ -n "$ours_pid" ] && [ -n "$ref_pid" ] || { echo "cannot find the services' processes" >&2; exit 1; }
sleep 2  # both settle after their start
ours_w0=$(wakeups "$ours_pid") ref_w0=$(wakeups "$ref_pid")
ours_c0=$(cpu_ticks "$ours_pid") ref_c0=$(cpu_ticks "$ref_pid")
sleep "$idle"
ours_w=$(( $(wakeups "$ours_pid") - ours_w0 )) ref_w=$(( $(wakeups "$ref_pid") - ref_w0 ))
tick_ms=$(( 1000 / $(getconf CLK_TCK) ))
ours_c=$(( ($(cpu_ticks "$ours_pid") - ours_c0) * tick_ms )) ref_c=$(( ($(cpu_ticks "$ref_pid") - ref_c0) * tick_ms ))
ours_threads=$(ls /proc/"$ours_pid"/task | wc -l) ref_threads=$(ls /proc/"$ref_pid"/task | wc -l)
run "$bench/bench_service.exe" release >/dev/null
echo "Idle for ${idle} s with polling off (wake-ups = context switches of all the process's threads):"
printf '  %-12s wake-ups %4d  CPU %4d ms  threads %d\n' product "$ours_w" "$ours_c" "$ours_threads" \
  reference "$ref_w" "$ref_c" "$ref_threads"
echo

# Size: stripped copies.
tmp=$(mktemp -d)
$triplet-strip -o "$tmp/product.exe" "$bench/MarrowbankServer.exe"
$triplet-strip -o "$tmp/reference.exe" "$bench/reference_service.exe"
ours_size=$(stat -c %s "$tmp/product.exe") ref_size=$(stat -c %s "$tmp/reference.exe")
rm -rf "$tmp"
echo "Size, stripped: product $ours_size bytes, reference $ref_size bytes"

cat >"$out" <<EOF
{"machine": {"cores": $cores, "cpu": "$cpu", "wine": "$wine_version", "load_at_start": "$load"},
 "architecture": "$arch",
 "build_dir": "$build_dir",
 "start_stop": $(cat "$bench/service.json"),
 "in_process": $(cat "$bench/inprocess.json"),
 "idle": {"seconds": $idle, "product": {"wakeups": $ours_w, "cpu_ms": $ours_c, "threads": $ours_threads},
          "reference": {"wakeups": $ref_w, "cpu_ms": $ref_c, "threads": $ref_threads}},
 "size_stripped": {"product": $ours_size, "reference": $ref_size}}
EOF
echo "Figures written to $out"
bench/ladder.sh "$out" "$(dirname "$out")/ladder.png"
