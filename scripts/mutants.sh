#!/usr/bin/env bash
# Mutation check: applies one-line faults to the production code, one at a time, rebuilds the test
# programs that exercise each fault, runs them and records which tests catch it. Developer tool.
#
# usage: scripts/mutants.sh [--tree DIR] [--build DIR] [--only ID[,ID...]] [--list FILE] [--out FILE]
#                           [--timeout SECONDS] [--check]
#   --tree   source tree to mutate (default: the repository holding this script)
#   --build  configured build directory of that tree (default: TREE/build)
#   --only   run only these mutant ids (comma separated)
#   --list   mutant list (default: scripts/mutants.txt next to this script)
#   --out    result table, TSV (default: TREE/mutants.tsv)
#   --timeout  limit of each test program run, a program still running then counts as killed
#            (default 600)
#   --check  only check that every mutant still applies (its text occurs once); no build
#
# List format: blocks separated by blank lines; '#' starts a comment line. Keys (one per line, value
# is the rest of the line after "key: ", taken literally):
#   id:        unique name
#   file:      path relative to the tree
#   from:      original text; must occur exactly once in the file ("\n" stands for a newline,
#              "\t" for a tab, "\\" for a backslash: a fault may span lines)
#   to:        replacement text, same escapes (may be empty)
#   why:       what the fault means
#   programs:  test programs (space separated) that exercise the area
#   note:      optional free text (e.g. "survives today")
#
# Output columns: id, file, result (killed | survived | stale | no-compile), kills (number of failing
# tests), killing tests (the first five), seconds. A test that already fails on the unmutated tree
# never counts as a kill. The tree is restored byte for byte after every mutant (also on Ctrl-C) and
# the unmutated programs are rebuilt at the end.
set -u -o pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
tree=$(git -C "$script_dir" rev-parse --show-toplevel)
build=""
only=""
list="$script_dir/mutants.txt"
out=""
check_only=0
run_timeout=600

usage() { sed -n '4,13p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; }

while [ $# -gt 0 ]; do
  case "$1" in
    --tree) tree=$(cd "${2:?--tree needs a directory}" && pwd) || exit 2; shift 2 ;;
    --build) build="${2:?--build needs a directory}"; shift 2 ;;
    --only) only="${2:?--only needs ids}"; shift 2 ;;
    --list) list="${2:?--list needs a file}"; shift 2 ;;
    --out) out="${2:?--out needs a file}"; shift 2 ;;
    --timeout) run_timeout="${2:?--timeout needs seconds}"; shift 2 ;;
    --check) check_only=1; shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "mutants.sh: unknown argument '$1'" >&2; usage >&2; exit 2 ;;
  esac
done
build=${build:-$tree/build}
[[ $run_timeout =~ ^[1-9][0-9]*$ ]] || {
  echo "mutants.sh: --timeout needs a positive whole number of seconds, got '$run_timeout'" >&2; exit 2; }
out=${out:-$tree/mutants.tsv}

[ -f "$list" ] || { echo "mutants.sh: list '$list' not found" >&2; exit 2; }
if [ $check_only = 0 ]; then
  [ -f "$build/CMakeCache.txt" ] || {
    echo "mutants.sh: '$build' is not a configured build directory (no CMakeCache.txt)" >&2; exit 2; }
  build=$(cd "$build" && pwd)
fi

work=$(mktemp -d /tmp/mutants.XXXXXX)
backup="$work/original"   # copy of the file under mutation
mutated_file=""           # absolute path while a mutant is applied

restore() {
  if [ -n "$mutated_file" ]; then
    # cat keeps the file's inode and mode and gives it a fresh mtime, so make recompiles it.
    cat "$backup" > "$mutated_file"
    cmp -s "$backup" "$mutated_file" || echo "mutants.sh: FAILED to restore $mutated_file (copy in $backup)" >&2
    mutated_file=""
  fi
}
on_exit() { restore; rm -rf "$work"; }
trap on_exit EXIT
trap 'echo "mutants.sh: interrupted, tree restored" >&2; exit 130' INT TERM HUP

# --- parse the list into parallel arrays -----------------------------------------------------
ids=(); files=(); froms=(); tos=(); progs=()
parse_list() {
  local id="" file="" from="" to="" has_from=0 has_to=0 prog="" line key value n=0
  flush() {
    if [ -n "$id" ]; then
      if [ -z "$file" ] || [ $has_from = 0 ] || [ $has_to = 0 ] || [ -z "$prog" ]; then
        echo "mutants.sh: $list: mutant '$id' lacks file, from, to or programs" >&2; exit 2
      fi
      local i; for i in "${ids[@]+"${ids[@]}"}"; do
        [ "$i" = "$id" ] && { echo "mutants.sh: $list: duplicate id '$id'" >&2; exit 2; }
      done
      ids+=("$id"); files+=("$file"); froms+=("$from"); tos+=("$to"); progs+=("$prog")
    fi
    id="" file="" from="" to="" has_from=0 has_to=0 prog=""
  }
  while IFS= read -r line || [ -n "$line" ]; do
    n=$((n + 1))
    line=${line%$'\r'}
    case "$line" in
      '#'*) continue ;;
      '') flush; continue ;;
    esac
    key=${line%%:*}
    value=${line#*:}
    value=${value# }
    case "$key" in
      id) flush; id=$value ;;
      file) file=$value ;;
      from) from=$value; has_from=1 ;;
      to) to=$value; has_to=1 ;;
      programs) prog=$value ;;
      why|note) ;;
      *) echo "mutants.sh: $list:$n: unknown key '$key'" >&2; exit 2 ;;
    esac
  done < "$list"
  flush
}
parse_list

selected=()
if [ -n "$only" ]; then
  IFS=',' read -r -a wanted <<< "$only"
  for w in "${wanted[@]}"; do
    found=0
    for i in "${!ids[@]}"; do [ "${ids[$i]}" = "$w" ] && { selected+=("$i"); found=1; }; done
    [ $found = 1 ] || { echo "mutants.sh: no mutant '$w' in $list" >&2; exit 2; }
  done
else
  selected=("${!ids[@]}")
fi

# --- helpers -----------------------------------------------------------------------------------
# Prints the path of a built test program.
program_path() {
  find "$build" -type f -name "$1" -perm -u+x -not -path '*/CMakeFiles/*' 2>/dev/null | head -n 1
}

# Runs the programs given as arguments; prints one failing test name per line, or
# "<program>(crash rc=N)" / "<program>(timeout)" when the program dies without naming a failure.
run_programs() {
  local p exe rc log names
  for p in "$@"; do
    exe=$(program_path "$p")
    if [ -z "$exe" ]; then echo "$p(not built)"; continue; fi
    log="$work/run-$p.log"
    (cd "$build" && timeout "$run_timeout" "$exe" --gtest_brief=1 > "$log" 2>&1)
    rc=$?
    names=$(sed -n 's/^\[  FAILED  \] \([A-Za-z_][A-Za-z0-9_/.]*\).*/\1/p' "$log" | sort -u)
    if [ -n "$names" ]; then
      printf '%s\n' "$names"
    fi
    if [ $rc = 124 ]; then
      echo "$p(timeout)"
    elif [ $rc -ne 0 ] && [ -z "$names" ]; then
      echo "$p(crash rc=$rc)"
    elif [ $rc -ge 128 ]; then
      echo "$p(crash rc=$rc)"
    fi
  done
}

build_targets() {  # build log goes to $work/build.log
  nice -n 5 cmake --build "$build" -j2 --target "$@" > "$work/build.log" 2>&1
}

# Literal text of a list value: "\n" stands for a newline, "\t" for a tab, "\\" for a backslash.
decode_py='
import os
def decode(raw):
    escapes = {b"n": b"\n", b"t": b"\t", b"\\": b"\\"}
    out, i = bytearray(), 0
    while i < len(raw):
        if raw[i:i+1] == b"\\" and raw[i+1:i+2] in escapes:
            out += escapes[raw[i+1:i+2]]
            i += 2
        else:
            out += raw[i:i+1]
            i += 1
    return bytes(out)
'

# Counts occurrences of the text $2 in file $1.
count_occurrences() {
  FROM="$2" python3 -c "$decode_py"'
import sys
print(open(sys.argv[1], "rb").read().count(decode(os.environb[b"FROM"])))' "$1"
}

# Replaces the single occurrence of the text $2 with the text $3 in file $1, in place.
apply_mutant() {
  FROM="$2" TO="$3" python3 -c "$decode_py"'
import sys
path = sys.argv[1]
data = open(path, "rb").read()
new = data.replace(decode(os.environb[b"FROM"]), decode(os.environb[b"TO"]), 1)
with open(path, "r+b") as f:
    f.write(new)
    f.truncate()' "$1"
}

if [ $check_only = 1 ]; then
  stale=0
  for i in "${selected[@]}"; do
    path="$tree/${files[$i]}"
    count=0
    [ -f "$path" ] && count=$(count_occurrences "$path" "${froms[$i]}")
    if [ "$count" != 1 ]; then
      echo "[${ids[$i]}] stale mutant: original text occurs $count times in ${files[$i]}" >&2
      stale=$((stale + 1))
    fi
  done
  echo "mutants.sh: ${#selected[@]} mutants, $stale stale" >&2
  [ $stale = 0 ]
  exit
fi

# --- clean run: build every program once and note tests that fail without any mutant -----------
all_programs=$(for i in "${selected[@]}"; do echo "${progs[$i]}"; done | tr ' ' '\n' | grep -v '^$' | sort -u)
# shellcheck disable=SC2086
if ! build_targets $all_programs; then
  echo "mutants.sh: the unmutated tree does not build; see below" >&2
  tail -n 30 "$work/build.log" >&2
  exit 1
fi
echo "mutants.sh: clean run of $(echo $all_programs | wc -w) programs" >&2
start_clean=$(date +%s)
# shellcheck disable=SC2086
clean_failures=$(run_programs $all_programs)
echo "mutants.sh: clean run took $(( $(date +%s) - start_clean )) s" >&2
if [ -n "$clean_failures" ]; then
  echo "mutants.sh: already failing without a mutant (never counted as kills):" >&2
  printf '  %s\n' $clean_failures >&2
fi

# --- mutants -----------------------------------------------------------------------------------
printf 'id\tfile\tresult\tkills\tkilling_tests\tseconds\n' > "$out"
total_start=$(date +%s)
n_killed=0; n_survived=0; n_stale=0; n_nocompile=0
for i in "${selected[@]}"; do
  id=${ids[$i]} file=${files[$i]} t0=$(date +%s)
  path="$tree/$file"
  result="" kills=0 names=""
  if [ ! -f "$path" ]; then
    result=stale; echo "[$id] stale mutant: $file does not exist" >&2
  else
    count=$(count_occurrences "$path" "${froms[$i]}")
    if [ "$count" != 1 ]; then
      result=stale; echo "[$id] stale mutant: original text occurs $count times in $file" >&2
    fi
  fi
  if [ -z "$result" ]; then
    cp "$path" "$backup"
    mutated_file=$path
    apply_mutant "$path" "${froms[$i]}" "${tos[$i]}"
    # shellcheck disable=SC2086
    if ! build_targets ${progs[$i]}; then
      result=no-compile; echo "[$id] does not compile:" >&2
      grep -m 5 -E 'error' "$work/build.log" | sed 's/^/    /' >&2
    else
      # shellcheck disable=SC2086
      failures=$(run_programs ${progs[$i]})
      # Keep only failures that the unmutated tree does not have.
      if [ -n "$clean_failures" ] && [ -n "$failures" ]; then
        failures=$(grep -vxF -f <(printf '%s\n' "$clean_failures") <<< "$failures" || true)
      fi
      if [ -n "$failures" ]; then
        result=killed
        kills=$(printf '%s\n' "$failures" | wc -l)
        names=$(printf '%s\n' "$failures" | head -n 5 | paste -sd ' ' -)
      else
        result=survived
      fi
    fi
    restore
  fi
  secs=$(( $(date +%s) - t0 ))
  case $result in
    killed) n_killed=$((n_killed + 1)) ;;
    survived) n_survived=$((n_survived + 1)) ;;
    stale) n_stale=$((n_stale + 1)) ;;
    no-compile) n_nocompile=$((n_nocompile + 1)) ;;
  esac
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$id" "$file" "$result" "$kills" "$names" "$secs" >> "$out"
  echo "[$id] $result ($kills failing tests, ${secs} s) $names" >&2
done
total=$(( $(date +%s) - total_start ))

# --- leave the build directory matching the tree -------------------------------------------------
# shellcheck disable=SC2086
build_targets $all_programs || echo "mutants.sh: rebuilding the unmutated programs failed (see $build)" >&2
echo "mutants.sh: ${#selected[@]} mutants: $n_killed killed, $n_survived survived, $n_stale stale," \
  "$n_nocompile do not compile; ${total} s; table in $out" >&2
