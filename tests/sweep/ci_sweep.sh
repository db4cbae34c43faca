#!/usr/bin/env bash
# The bundled CI sweep with the real simulator: every run runs, the table has a row per run, the
# runs without a push all pass, and the summary counts add up. Usage: ci_sweep.sh SWEEP_APP OUT_DIR
set -euo pipefail
sweep=$1 out=$2
"$sweep" ci_small --out "$out" --jobs 2 > "$out.log" 2>&1 || { cat "$out.log"; exit 1; }
csv=$out/sweep.csv
header=$(head -1 "$csv")
column() { tr ',' '\n' <<< "$header" | grep -nx "$1" | cut -d: -f1; }
outcome=$(column outcome) force=$(column push.force_n)
[ -n "$outcome" ] && [ -n "$force" ] || { echo "sweep.csv lacks outcome or push.force_n: $header"; exit 1; }
rows=$(tail -n +2 "$csv" | wc -l)
[ "$rows" -eq 27 ] || { echo "expected 27 runs in sweep.csv, found $rows"; exit 1; }
errors=$(tail -n +2 "$csv" | cut -d, -f"$outcome" | grep -cvE '^(ok|fell|threshold)$' || true)
[ "$errors" -eq 0 ] || { echo "$errors runs did not run"; exit 1; }
unpushed_failed=$(tail -n +2 "$csv" | awk -F, -v o="$outcome" -v f="$force" '$f == 0 && $o != "ok"' | wc -l)
[ "$unpushed_failed" -eq 0 ] || { echo "$unpushed_failed runs without a push did not pass"; exit 1; }
summed=$(tail -n +2 "$out/summary.csv" | awk -F, '{ n += $2 } END { print n }')
[ "$summed" -eq 27 ] || { echo "the summary counts $summed runs, not 27"; cat "$out/summary.csv"; exit 1; }
echo "ci sweep: 27 runs, $(tail -n +2 "$csv" | cut -d, -f"$outcome" | sort | uniq -c | tr '\n' ' ')"
