#!/bin/sh
# Instructions per iteration of each bench_strings workload, counted by callgrind, so that the
# engine and std::string can be compared on a machine whose load makes timings noisy. Each
# benchmark runs twice with fixed iteration counts; the difference divided by the extra
# iterations leaves out start-up and set-up.
#   bench/strings_instructions.sh build/linux/bench/bench_strings [more binaries...]
set -eu
low=1000
high=41000
for binary in "$@"; do
    echo "$binary"
    for name in BM_engine_short BM_std_string_short BM_engine_long BM_std_string_long; do
        count() {
            out=$(mktemp)
            STR_BENCH_ITERATIONS=$1 valgrind --tool=callgrind --callgrind-out-file="$out" \
                "$binary" --benchmark_filter="^$name(/.*)?\$" >/dev/null 2>&1
            awk '/^summary:/ { print $2 }' "$out"
            rm -f "$out"
        }
        a=$(count $low)
        b=$(count $high)
        echo "$name $(( (b - a) / (high - low) ))"
    done | awk '{ ir[$1] = $2; print "  " $1 ": " $2 " instructions per iteration" }
        END { printf "  short engine/std: %.2f   long engine/std: %.2f\n",
              ir["BM_engine_short"] / ir["BM_std_string_short"],
              ir["BM_engine_long"] / ir["BM_std_string_long"] }'
done
