#!/bin/bash
# One tarvik-proc command over many micrographs as a SLURM job array: task i
# of N takes every N-th micrograph from the i-th on and writes its result
# lines to COMMAND_i.out beside the job. "{task}" in an option becomes i, so
# that each task can write a table of its own.
#
#   sbatch --array=0-99 docs/proc_slurm.sh 'Movies/*.mrc' ctf --pixel 1.06 --kv 300 --cs 2.7 --json
#   cat ctf_*.out > ctf.jsonl
#   sbatch --array=0-99 docs/proc_slurm.sh 'Movies/*.mrc' autopick --diameter 150 --out Picks --json
#   cat autopick_*.out > picks.jsonl
#   sbatch --array=0-99 docs/proc_slurm.sh 'Micrographs/*.mrc' extract --size 256 --picks Picks --invert \
#       --out Particles --star 'Particles/particles_{task}.star'
#
# tarvik-proc must be on PATH on the nodes (or set TARVIK_PROC).
#SBATCH --job-name=tarvik-proc
#SBATCH --cpus-per-task=1  # extract cuts particles in as many threads as it is given
#SBATCH --mem=2G
#SBATCH --time=01:00:00
#SBATCH --output=proc_%a.log
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: sbatch --array=0-N $0 'GLOB' COMMAND [OPTION...]" >&2; exit 2; }
glob=$1 command=$2
shift 2
proc=${TARVIK_PROC:-tarvik-proc}
task=${SLURM_ARRAY_TASK_ID:-0}
count=${SLURM_ARRAY_TASK_COUNT:-1}
shopt -s nullglob
# The glob is expanded here, on the node, so every task sees the same sorted list.
files=($glob)
mine=()
for ((i = task; i < ${#files[@]}; i += count)); do mine+=("${files[i]}"); done
[ ${#mine[@]} -gt 0 ] || exit 0
out=${command}_${task}.out
# Failed micrographs are named in the log; the others still arrive.
"$proc" "$command" "${mine[@]}" "${@//\{task\}/$task}" > "$out.tmp" || status=$?
mv "$out.tmp" "$out"
exit "${status:-0}"
