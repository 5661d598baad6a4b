#!/usr/bin/env bash
# Scaling chart of a comparison run made with --threads 1,2 (or more): per
# case, the speed-up of ours and of FFTW from one thread to the largest
# count, and the time ratio ours/FFTW at each count.
#   tools/bench_scaling.sh RESULTS_DIR [LEVEL]    (default level 5)
# Writes RESULTS_DIR/scaling.dat and RESULTS_DIR/scaling_l<LEVEL>.png.
set -euo pipefail
dir=${1:?results folder}
level=${2:-5}
csv="$dir/results.csv"
dat="$dir/scaling.dat"
# One row per case: label, ours speed-up, FFTW speed-up, ratio at 1 thread,
# ratio at the largest thread count.
awk -F, -v level="$level" '
  NR == 1 { for (i = 1; i <= NF; ++i) col[$i] = i; next }
  $col["level"] != level || $col["ours_status"] != 0 { next }
  {
    key = $col["kind"] " " ($col["batch"] > 1 ? $col["batch"] "x" : "") $col["n"]
    t = $col["threads"]
    if (!(key in seen)) { seen[key] = 1; order[++count] = key }
    ours[key, t] = $col["ours_ns"]; fftw[key, t] = $col["fftw_ns"]
    if (t > top) top = t
  }
  END {
    print "# case ours_speedup fftw_speedup ratio_t1 ratio_t" top
    for (i = 1; i <= count; ++i) {
      k = order[i]
      if (!((k, 1) in ours) || !((k, top) in ours)) continue
      label = k; gsub(" ", ":", label)
      printf "%s %.3f %.3f %.3f %.3f\n", label, ours[k, 1] / ours[k, top], fftw[k, 1] / fftw[k, top],
             ours[k, 1] / fftw[k, 1], ours[k, top] / fftw[k, top]
    }
    print top > "/dev/stderr"
  }' "$csv" > "$dat" 2> "$dat.top"
top=$(cat "$dat.top"); rm -f "$dat.top"
gnuplot <<EOF
set terminal pngcairo size 1100,800 font "sans,10"
set output "$dir/scaling_l$level.png"
set multiplot layout 2,1 title "Threads at level $level: 1 to $top threads (ours and FFTW's threaded plans, same run)" font ",12"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set boxwidth 0.9
set grid ytics
set xtics rotate by -35 font ",9"
set key outside right top
set ylabel "speed-up, 1 to $top threads"
set yrange [0:*]
plot "$dat" using 2:xtic(1) title "ours" lc rgb "#d62728", '' using 3 title "FFTW" lc rgb "black", \
     $top with lines dt 2 lc rgb "#999999" title "$top x"
set ylabel "time ours / time FFTW\n(below 1: ours faster)"
plot "$dat" using 4:xtic(1) title "1 thread" lc rgb "#1f77b4", '' using 5 title "$top threads" lc rgb "#d62728", \
     1 with lines lc rgb "black" title "equal"
unset multiplot
EOF
echo "$dir/scaling_l$level.png"
