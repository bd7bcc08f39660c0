# Bar chart of the benchmark: each scenario's floor (C), quorvi and the SDK peer, on a log scale.
#   gnuplot -e "data='chart.dat'; out='chart.png'" chart.gp
set terminal pngcairo size 1200,560 font "sans,10" noenhanced
set output out
set title "quorvi against the floor of each path and an MCP server on the TypeScript SDK"
set ylabel "microseconds per run (per request for tools/list and tools/call), log scale"
set logscale y
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set datafile missing "-"
set key top left
set grid ytics
set xtics rotate by -25 scale 0
plot data using 2:xtic(1) title "floor (C baseline)" lc rgb "#9e9e9e", \
     "" using 3 title "quorvi" lc rgb "#1565c0", \
     "" using 4 title "Node.js peer (official SDK)" lc rgb "#e65100"
