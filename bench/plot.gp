# The plot of bench/results/results.csv (written by bench/compare.py):
#   top     the ratios dbupgrade / isql-fb (wall and CPU time) per table row, with the limits
#   middle  the median wall times of both programs per table row (log scale)
#   bottom  row 6: the time per statement over the script size, for both programs (wall time)
#           and for dbupgrade's CPU time
# Call: gnuplot -e "csv='results.csv'; png='results.png'" bench/plot.gp
if (!exists("csv")) csv = "bench/results/results.csv"
if (!exists("png")) png = "bench/results/results.png"

set terminal pngcairo size 1300,1500 font ",10"
set output png
set datafile separator ","
set datafile missing ""
set multiplot layout 3,1 title "dbupgrade against isql-fb: same statements, fresh database copies, medians"

# Columns: 1 row, 2 case, 3 runs, 4 statements, 5 dbupgrade_s, 6 isql_s, 7 ratio,
# 8 dbupgrade_cpu_s, 9 isql_cpu_s, 10 cpu_ratio, 11 dbupgrade_rss_mb, 12 isql_rss_mb,
# 13 dbupgrade_us_per_stmt, 14 isql_us_per_stmt, 15 dbupgrade_cpu_us_per_stmt.
set style fill solid 0.6 border -1
set boxwidth 0.35
set grid ytics
set xtics rotate by -30 left font ",9" nomirror
set bmargin 9
set rmargin 8
set key top center horizontal

set title "dbupgrade / isql-fb (lower is better)"
set ylabel "ratio"
set yrange [0:*]
plot csv skip 1 using ($0-0.18):7:xtic(2) with boxes lc rgb "#4477aa" title "wall time", \
     csv skip 1 using ($0+0.18):10 with boxes lc rgb "#66ccee" title "CPU time", \
     1.0 with lines dt 2 lw 2 lc rgb "#228833" title "1.00 (DebugMode 1 limit)", \
     1.1 with lines dt 3 lw 2 lc rgb "#ee6677" title "1.10 (DebugMode 5 limit)"

set title "median wall time per run"
set ylabel "seconds"
set logscale y
set yrange [*:*]
plot csv skip 1 using ($0-0.18):5:xtic(2) with boxes lc rgb "#4477aa" title "dbupgrade", \
     csv skip 1 using ($0+0.18):6 with boxes lc rgb "#ccbb44" title "isql-fb"
unset logscale y

set title "row 6: time per statement (start-up and attach of an empty script subtracted)"
set xlabel "statements in the script"
set ylabel "microseconds per statement"
set xtics norotate autofreq font ",10"
set logscale x
set bmargin 4
set key bottom center horizontal
set yrange [0:*]
plot csv skip 1 using (strcol(13) eq "" ? NaN : $4):13 with linespoints lw 2 pt 7 lc rgb "#4477aa" title "dbupgrade", \
     csv skip 1 using (strcol(14) eq "" ? NaN : $4):14 with linespoints lw 2 pt 5 lc rgb "#ccbb44" title "isql-fb", \
     csv skip 1 using (strcol(15) eq "" ? NaN : $4):15 with linespoints lw 2 dt 2 pt 6 lc rgb "#66ccee" title "dbupgrade CPU time"

unset multiplot
