# Charts of a comparison run (bench/compare): speed and ratio per kind,
# accuracy and set-up time per thread/placement combination.
#   gnuplot -e "dir='results/latest'" tools/bench_report.gp
# The data files (dir/data/KIND_COMBO.dat) hold two blocks: powers of two
# (drawn as lines) and other lengths (drawn as unconnected points of the same
# colour). Columns: 1 n, 2 FFTW MFLOPS, 3 FFTW estimate MFLOPS, 4 FFTW error,
# 5 FFTW plan us, then for the i-th level (i = 1, 2, ...): 2+4i ours MFLOPS,
# 3+4i time ratio ours/FFTW, 4+4i ours error, 5+4i ours commit us.
# Missing values are NaN, so a case that did not commit simply has no point.

if (!exists("dir")) dir = "results/latest"
load dir."/data/config.gp"

kname(k) = k eq "cf" ? "complex forward" : k eq "cb" ? "complex backward" : \
           k eq "rf" ? "real forward" : "real backward"
flopsnote(k) = (k eq "cf" || k eq "cb") ? "5 N log_2 N / t(µs)" : "2.5 N log_2 N / t(µs)"
combotext(c) = "threads ".substr(c, 2, strstrt(c, "_") - 1).", ".substr(c, strstrt(c, "_") + 1, strlen(c))
datafile(k, c) = dir."/data/".k."_".c.".dat"
ours(i, j) = column(2 + 4*i + j)    # j: 0 MFLOPS, 1 ratio, 2 error, 3 commit
nl = words(levels)
nk = words(kinds)
# Page of one panel per kind: 1x1, 1x2 or 2x2.
prows = nk <= 2 ? 1 : 2
pcols = nk == 1 ? 1 : 2
# Our levels in warm colours, FFTW in black/grey.
lvcolour(i) = word("#d62728 #1f77b4 #2ca02c #9467bd #ff7f0e #8c564b", i)

set terminal pngcairo size 1100,850 font "sans,10" enhanced
set datafile missing "NaN"
set grid
set key outside right top box spacing 1.2 width 1
# Fixed margins keep the panels of a page aligned whatever their keys.
set lmargin at screen 0.09
set rmargin at screen 0.76
set logscale x 2
set format x "2^{%L}"
set xtics 4
set xlabel "transform length N"
set pointsize 0.9

do for [combo in combos] {
  do for [k in kinds] {
    f = datafile(k, combo)
    set output dir."/speed_".k."_".combo.".png"
    set multiplot layout 2,1 title "ours vs FFTW: ".kname(k)." (".combotext(combo).")\nlines: powers of two; unconnected points: other lengths" font ",12"
    set ylabel "MFLOPS = ".flopsnote(k)
    unset logscale y
    set xrange [*:*]
    set yrange [0:*]
    plot f index 0 using 1:2 with linespoints lc rgb "black" lw 2 pt 7 title "FFTW MEASURE", \
         f index 1 using 1:2 with points lc rgb "black" pt 7 notitle, \
         f index 0 using 1:3 with linespoints lc rgb "#999999" dt 2 pt 6 title "FFTW ESTIMATE", \
         f index 1 using 1:3 with points lc rgb "#999999" pt 6 notitle, \
         for [i=1:nl] f index 0 using 1:(ours(i,0)) with linespoints lc rgb lvcolour(i) lw 2 pt 5 title "ours, level ".word(levels, i), \
         for [i=1:nl] f index 1 using 1:(ours(i,0)) with points lc rgb lvcolour(i) pt 5 notitle
    # Same x range as above, and a reference line at 1 drawn from FFTW's
    # lengths, so that the panel has an x range even when ours is missing.
    set xrange [GPVAL_X_MIN:GPVAL_X_MAX]
    set ylabel "time ours / time FFTW MEASURE\n(below 1: ours faster)"
    set logscale y 2
    set yrange [*:*]
    plot f using 1:($2 == $2 ? 1 : NaN) with lines lc rgb "black" dt 2 title "equal", \
         for [i=1:nl] f index 0 using 1:(ours(i,1)) with linespoints lc rgb lvcolour(i) lw 2 pt 5 title "level ".word(levels, i), \
         for [i=1:nl] f index 1 using 1:(ours(i,1)) with points lc rgb lvcolour(i) pt 5 notitle
    unset multiplot
  }

  set xrange [*:*]
  set lmargin
  set rmargin
  set key inside top left box opaque font ",8"
  set terminal pngcairo size 1100, (prows == 1 ? 480 : 850) font "sans,10" enhanced
  set output dir."/accuracy_".combo.".png"
  set multiplot layout prows,pcols title "relative RMS error against a long-double reference (".combotext(combo).")" font ",12"
  set logscale y 10
  set format y "10^{%L}"
  set yrange [*:*]
  set ylabel "relative RMS error"
  do for [k in kinds] {
    f = datafile(k, combo)
    set title kname(k)
    plot f index 0 using 1:4 with linespoints lc rgb "black" lw 2 pt 7 title "FFTW", \
         f index 1 using 1:4 with points lc rgb "black" pt 7 notitle, \
         for [i=1:nl] f index 0 using 1:(ours(i,2)) with linespoints lc rgb lvcolour(i) lw 2 pt 5 title "ours, level ".word(levels, i), \
         for [i=1:nl] f index 1 using 1:(ours(i,2)) with points lc rgb lvcolour(i) pt 5 notitle
  }
  unset multiplot

  set output dir."/setup_".combo.".png"
  set multiplot layout prows,pcols title "set-up time: our commit vs FFTW planning (".combotext(combo).")" font ",12"
  set ylabel "µs"
  do for [k in kinds] {
    f = datafile(k, combo)
    set title kname(k)
    plot f index 0 using 1:5 with linespoints lc rgb "black" lw 2 pt 7 title "FFTW MEASURE plan", \
         f index 1 using 1:5 with points lc rgb "black" pt 7 notitle, \
         for [i=1:nl] f index 0 using 1:(ours(i,3)) with linespoints lc rgb lvcolour(i) lw 2 pt 5 title "our commit, level ".word(levels, i), \
         for [i=1:nl] f index 1 using 1:(ours(i,3)) with points lc rgb lvcolour(i) pt 5 notitle
  }
  unset multiplot
  unset title
  set format y "%g"
  unset logscale y
  set lmargin at screen 0.09
  set rmargin at screen 0.76
  set key outside right top box noopaque font ",10"
  set terminal pngcairo size 1100,850 font "sans,10" enhanced
}
set output
