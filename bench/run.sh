#!/usr/bin/env bash
# One command for the performance numbers: builds Release in build-bench, generates the
# graph files (once; they are kept in the work directory), runs each program after a
# warm-up several times and prints medians, throughput, ratios and peak memory. The
# converter and its floor are run by turns, so their ratio is taken under the same load.
#
#   bench/run.sh
#
# Settings (environment):
#   PLOTMINT_BENCH_DIR       work directory for the generated files (/tmp/plotmint-bench)
#   PLOTMINT_BENCH_BUILD     build directory (build-bench in the source tree)
#   PLOTMINT_BENCH_SIZES     file sizes in MiB ("1 10 100 500")
#   PLOTMINT_BENCH_MIXES     "line fill text": line-heavy, fill-heavy, text- and Hershey-heavy
#   PLOTMINT_BENCH_RUNS      timed runs after the warm-up (3)
#   PLOTMINT_BENCH_PLOT_MAX  largest size in MiB given to plotutils' plot, which is slow (100)
#   PLOTMINT_BENCH_SEED      generator seed (1)
#   PLOTMINT_BENCH_NO_INSTALL  set to skip installing plotutils when plot is missing
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${PLOTMINT_BENCH_BUILD:-$here/build-bench}
work=${PLOTMINT_BENCH_DIR:-/tmp/plotmint-bench}
sizes=${PLOTMINT_BENCH_SIZES:-"1 10 100 500"}
mixes=${PLOTMINT_BENCH_MIXES:-"line fill text"}
runs=${PLOTMINT_BENCH_RUNS:-3}
plot_max=${PLOTMINT_BENCH_PLOT_MAX:-100}
seed=${PLOTMINT_BENCH_SEED:-1}
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))

case $work in "$here"|"$here"/*) echo "run.sh: the work directory must lie outside the source tree" >&2; exit 2;; esac
mkdir -p "$work"

# ---- build ------------------------------------------------------------------------------
configure=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DPLOTMINT_BENCH=ON -DPLOTMINT_GUI=OFF)
[[ -f $build/CMakeCache.txt ]] || configure+=(-DPLOTMINT_TESTS=OFF)
cmake -S "$here" -B "$build" "${configure[@]}" >/dev/null
cmake --build "$build" -j"$jobs" --target plotmint-convert gen_graph timeit bench_reader bench_fscanf bench_floor \
    >/dev/null
bin=$build/bin
have_plot=0
# The ratios against plot -T ps are goals of their own, so plotutils is installed when it is
# missing and the package manager can be used (PLOTMINT_BENCH_NO_INSTALL=1 skips this).
if ! command -v plot >/dev/null 2>&1 && [[ -z ${PLOTMINT_BENCH_NO_INSTALL:-} ]] && command -v apt-get >/dev/null 2>&1 &&
    [[ $(id -u) == 0 ]]; then
    echo "installing plotutils for plot -T ps" >&2
    apt-get install -y -q -o DPkg::Lock::Timeout=900 plotutils >/dev/null ||
        { apt-get update -q -o DPkg::Lock::Timeout=900 >/dev/null &&
            apt-get install -y -q -o DPkg::Lock::Timeout=900 plotutils >/dev/null; } ||
        echo "run.sh: plotutils could not be installed; the plot columns stay empty" >&2
fi
command -v plot >/dev/null 2>&1 && have_plot=1

# ---- helpers ----------------------------------------------------------------------------
median() { sort -n | awk '{ v[NR] = $1 } END { print NR ? ((NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) : "-" }'; }

# measure NAME CMD...: one warm-up, then $runs timed runs. Sets med (wall seconds), cpu
# (CPU seconds), both medians, and rss (KiB, the largest of the runs). The program's output
# goes to $work/NAME.out (the last run's).
measure() {
    local name=$1
    shift
    local results=$work/.times
    rm -f "$results"
    "$bin/timeit" /dev/null "$@" >"$work/$name.out" 2>&1 || true
    for ((i = 0; i < runs; i++)); do
        "$bin/timeit" "$results" "$@" >"$work/$name.out" 2>&1 || true
    done
    if awk '$3 != 0 { bad = 1 } END { exit bad ? 0 : 1 }' "$results"; then
        echo "run.sh: $name failed: $* (see $work/$name.out)" >&2
    fi
    med=$(awk '{ print $1 }' "$results" | median)
    cpu=$(awk '{ print $4 }' "$results" | median)
    rss=$(awk 'BEGIN { m = 0 } $2 > m { m = $2 } END { print m }' "$results")
}

# measure_pair NAME_A NAME_B: as measure, for the commands in the arrays pair_a and pair_b,
# run by turns (one of each after the other) so that both see the machine as it is at the
# time: their ratio then holds on a host whose speed drifts from minute to minute. Sets
# med_a, cpu_a, rss_a and med_b, cpu_b, rss_b.
measure_pair() {
    local a=$1 b=$2 ta=$work/.times-a tb=$work/.times-b
    rm -f "$ta" "$tb"
    "$bin/timeit" /dev/null "${pair_a[@]}" >"$work/$a.out" 2>&1 || true
    "$bin/timeit" /dev/null "${pair_b[@]}" >"$work/$b.out" 2>&1 || true
    for ((i = 0; i < runs; i++)); do
        "$bin/timeit" "$ta" "${pair_a[@]}" >"$work/$a.out" 2>&1 || true
        "$bin/timeit" "$tb" "${pair_b[@]}" >"$work/$b.out" 2>&1 || true
    done
    local name results
    for name in a b; do
        results=$work/.times-$name
        if awk '$3 != 0 { bad = 1 } END { exit bad ? 0 : 1 }' "$results"; then
            echo "run.sh: $([[ $name == a ]] && echo "$a" || echo "$b") failed (see $work/$a.out, $work/$b.out)" >&2
        fi
        printf -v "med_$name" '%s' "$(awk '{ print $1 }' "$results" | median)"
        printf -v "cpu_$name" '%s' "$(awk '{ print $4 }' "$results" | median)"
        printf -v "rss_$name" '%s' "$(awk 'BEGIN { m = 0 } $2 > m { m = $2 } END { print m }' "$results")"
    done
}

rows=$work/.rows
: >"$rows"
started=$(date -u '+%Y-%m-%d %H:%M UTC')
for size in $sizes; do
    for mix in $mixes; do
        g=$work/$mix-${size}mb-s$seed.g
        meta=$work/$mix-${size}mb-s$seed.meta
        if [[ ! -f $g || ! -f $meta ]]; then
            echo "generating $g" >&2
            "$bin/gen_graph" --mix "$mix" --size-mb "$size" --seed "$seed" --out "$g" --meta "$meta"
        fi
        bytes=$(stat -c %s "$g")
        echo "measuring $mix $size MiB" >&2

        # The reader, each pass timed inside the program: a pass parsing the text alone;
        # the first pass of a draw run, which also writes the record file; and a later
        # pass, which reads it.
        measure reader "$bin/bench_reader" "$g" 1 --no-cache
        r_reader=$rss
        p0=() c0=() p1=() p2=()
        for ((i = 0; i < runs; i++)); do
            out=$("$bin/bench_reader" "$g" 1 --no-cache)
            p0+=("$(sed -n 's/^pass 1: \([0-9.]*\) s.*/\1/p' <<<"$out")")
            c0+=("$(sed -n 's/^pass 1: .*cpu \([0-9.]*\) s.*/\1/p' <<<"$out")")
            out=$("$bin/bench_reader" "$g" 2)
            p1+=("$(sed -n 's/^pass 1: \([0-9.]*\) s.*/\1/p' <<<"$out")")
            p2+=("$(sed -n 's/^pass 2: \([0-9.]*\) s.*/\1/p' <<<"$out")")
        done
        t_reader=$(printf '%s\n' "${p0[@]}" | median)
        c_reader=$(printf '%s\n' "${c0[@]}" | median)
        t_first=$(printf '%s\n' "${p1[@]}" | median)
        t_later=$(printf '%s\n' "${p2[@]}" | median)
        measure fscanf "$bin/bench_fscanf" "$g"
        t_fscanf=$med
        (cd "$work" && "$bin/plotmint-convert" -o "$work/convert.emf" "$g" 2>/dev/null) || true
        "$bin/bench_floor" record "$g" "$work/floor.calls" --table-dir "$bin"
        pair_a=(env -C "$work" "$bin/plotmint-convert" -o "$work/convert.emf" "$g")
        pair_b=("$bin/bench_floor" replay "$g" "$work/floor.calls" "$work/floor.emf")
        measure_pair convert floor
        t_convert=$med_a c_convert=$cpu_a r_convert=$rss_a
        t_floor=$med_b c_floor=$cpu_b r_floor=$rss_b
        same=no
        cmp -s "$work/floor.emf" "$work/convert.emf" && same=yes
        measure raw "$bin/bench_floor" raw "$g" "$work/convert.emf" "$work/raw.emf"
        t_raw=$med
        emf_bytes=$(stat -c %s "$work/convert.emf")
        rm -f "$work/floor.calls" "$work/floor.emf" "$work/raw.emf"
        t_plot=- r_plot=-
        if ((have_plot && size <= plot_max)); then
            measure plot sh -c 'exec plot -T ps "$1" >/dev/null' plot "$meta"
            t_plot=$med r_plot=$rss
        fi
        echo "$mix $size $bytes $emf_bytes $t_reader $t_first $t_later $t_fscanf $t_floor $t_raw $t_convert $t_plot" \
            "$c_floor $c_convert $r_reader $r_floor $r_convert $r_plot $same $c_reader" >>"$rows"
    done
done

# ---- report -----------------------------------------------------------------------------
echo
echo "Plotmint benchmark, started $started; $(nproc) CPUs, $(lscpu | sed -n 's/^Model name: *//p')"
echo "work directory $work; medians of $runs runs after one warm-up; load average now: $(cut -d' ' -f1-3 /proc/loadavg)"
awk '
function mibs(b, t) { return (t == "-" || t <= 0) ? "-" : sprintf("%.0f", b / 1048576 / t) }
function ratio(a, b) { return (a == "-" || b == "-" || b <= 0) ? "-" : sprintf("%.2f", a / b) }
function secs(t) { return t == "-" ? "-" : sprintf("%.3f", t) }
function mib(k) { return k == "-" ? "-" : sprintf("%.1f", k / 1024) }
{ n++; for (i = 1; i <= NF; i++) v[n, i] = $i }
END {
    print ""
    print "Throughput in MiB/s of graph file (wall clock, medians)"
    printf "%-5s %5s %7s | %6s %6s %6s %6s | %6s | %8s %8s %8s | %6s %6s %6s\n",
        "mix", "MiB", "EMF MiB", "text", "(cpu)", "1st", "later", "fscanf", "floor s", "conv s", "plot s", "floor", "conv",
        "plot"
    for (r = 1; r <= n; r++) {
        b = v[r, 3]
        printf "%-5s %5s %7.1f | %6s %6s %6s %6s | %6s | %8s %8s %8s | %6s %6s %6s\n",
            v[r, 1], v[r, 2], v[r, 4] / 1048576, mibs(b, v[r, 5]), mibs(b, v[r, 20]), mibs(b, v[r, 6]), mibs(b, v[r, 7]),
            mibs(b, v[r, 8]), secs(v[r, 9]), secs(v[r, 11]), secs(v[r, 12]), mibs(b, v[r, 9]), mibs(b, v[r, 11]),
            mibs(b, v[r, 12])
    }
    print ""
    print "Ratios and peak resident memory (MiB, largest of the runs)"
    printf "%-5s %5s | %8s %8s %8s %8s | %7s %7s %8s %7s | %s\n", "mix", "MiB", "cnv/flr", "cpu c/f", "cnv/raw",
        "plot/cnv", "reader", "floor", "convert", "plot", "floor EMF = convert EMF"
    for (r = 1; r <= n; r++)
        printf "%-5s %5s | %8s %8s %8s %8s | %7s %7s %8s %7s | %s\n", v[r, 1], v[r, 2], ratio(v[r, 11], v[r, 9]),
            ratio(v[r, 14], v[r, 13]), ratio(v[r, 11], v[r, 10]), ratio(v[r, 12], v[r, 11]), mib(v[r, 15]),
            mib(v[r, 16]), mib(v[r, 17]), mib(v[r, 18]), v[r, 19]
    print ""
    print "text:   the record reader, one pass parsing the text (nothing else); (cpu): per CPU second"
    print "1st:    its first pass in a draw run, parsing the text and writing the binary record file"
    print "later:  each later pass of a draw run, reading the record file"
    print "fscanf: one pass of fscanf(\"%d%d%d\") over the same file"
    print "floor:  one text pass + the converter'"'"'s drawing calls replayed into the EMF writer (same bytes)"
    print "raw:    one text pass + copying the finished EMF bytes to a new file, synced"
    print "conv:   the whole plotmint-convert run (tables, discovery, extent, every pass, writing and"
    print "        checking graph.emf); cpu c/f is the same ratio in CPU seconds"
    print "plot:   GNU plotutils plot -T ps on the same drawing as a GNU metafile, output discarded"
    print ""
    print "Goals"
    ok_reader = 1; ok_rss = 1; worst_rss = 0; slowest = 1e9; slowest_cpu = 1e9
    for (r = 1; r <= n; r++) {
        if (v[r, 2] < 10) continue  # a pass over 1 MiB is too short to time
        s = v[r, 3] / 1048576 / v[r, 5]
        if (s < slowest) slowest = s
        if (s < 500) ok_reader = 0
        c = v[r, 3] / 1048576 / v[r, 20]
        if (c < slowest_cpu) slowest_cpu = c
    }
    for (r = 1; r <= n; r++) {
        if (v[r, 17] / 1024 >= 32) ok_rss = 0
        if (v[r, 17] > worst_rss) worst_rss = v[r, 17]
    }
    printf "  reader text pass >= 500 MiB/s, files of 10 MiB and more:  %s (slowest %.0f MiB/s; %.0f per CPU second)\n",
        (ok_reader ? "met" : "NOT met"), slowest, slowest_cpu
    for (r = 1; r <= n; r++) {
        if (v[r, 2] < 10) continue
        cf = v[r, 11] / v[r, 9]
        printf "  %-4s %4s MiB: convert <= 1.2x floor:                  %s (%.2fx; CPU %.2fx)\n", v[r, 1], v[r, 2],
            (cf <= 1.2) ? "met" : "NOT met", cf, v[r, 14] / v[r, 13]
        if (v[r, 12] != "-") {
            pc = v[r, 12] / v[r, 11]
            printf "  %-4s %4s MiB: convert >= 10x faster than plot -T ps:  %s (%.1fx)\n", v[r, 1], v[r, 2],
                (pc >= 10) ? "met" : "NOT met", pc
        }
    }
    printf "  convert peak RSS < 32 MiB, every file:                   %s (largest %.1f MiB)\n",
        (ok_rss ? "met" : "NOT met"), worst_rss / 1024
}' "$rows"
