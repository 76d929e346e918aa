#!/usr/bin/env bash
# Draws the benchmark's ladder from its figures: the start and the stop time of each service, from the
# minimal reference through each added piece to the product, as medians with their quartiles.
#   bench/ladder.sh BENCH_JSON OUT_PNG
set -euo pipefail
json=$1 png=$2
data=$(mktemp)
trap 'rm -f "$data"' EXIT
# One row per service in the benchmark's order: label, start median, q1, q3, stop median, q1, q3.
python3 - "$json" >"$data" <<'PY'
import json, sys
figures = json.load(open(sys.argv[1]))
variants = figures["start_stop"]["variants"]
# The product is measured first; it belongs at the top of the ladder, after the last step.
for v in variants[1:] + variants[:1]:
    s, t = v["start_ms"], v["stop_ms"]
    label = v["what"].replace('"', "'")
    print('"%s"\t%s\t%s\t%s\t%s\t%s\t%s' % (label, s["median"], s["q1"], s["q3"], t["median"], t["q1"], t["q3"]))
PY
arch=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1])).get("architecture", "win32"))' "$json")
[ "$arch" = win64 ] && arch_text="x86_64 test build" || arch_text="i686, as shipped"
rows=$(wc -l <"$data")
gnuplot <<GP
set terminal pngcairo noenhanced size 1150,$((140 + rows * 38)) font "DejaVu Sans,10"
set output "$png"
set datafile separator "\t"
set multiplot title "Start and stop against the reference ladder ($arch_text): median, quartiles as bars (ms)"
set style fill solid 0.6 border -1
set ytics nomirror
set yrange [-0.6:$rows - 0.4]
set xrange [0:*]
set grid xtics
unset key
set lmargin 44
set origin 0,0
set size 0.66,0.95
set title "StartService to RUNNING"
plot "$data" using (\$2/2):0:(\$2/2):(0.35):yticlabels(1) with boxxyerror lc rgb "#4a7ab5", \
     "$data" using 2:0:3:4 with xerrorbars lc rgb "black" pt 0
set lmargin 2
set origin 0.66,0
set size 0.34,0.95
set ytics format ""
set title "STOP to STOPPED, process gone"
plot "$data" using (\$5/2):0:(\$5/2):(0.35) with boxxyerror lc rgb "#c0772f", \
     "$data" using 5:0:6:7 with xerrorbars lc rgb "black" pt 0
unset multiplot
GP
echo "Ladder drawn: $png"
