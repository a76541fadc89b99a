#!/bin/bash
# CTF estimates of many micrographs as a SLURM job array: task i of N takes
# every N-th micrograph from the i-th on and writes ctf_i.jsonl beside the job.
#
#   sbatch --array=0-99 docs/ctf_slurm.sh 'Movies/*.mrc' PIXEL KV CS
#   cat ctf_*.jsonl > ctf.jsonl
#
# tarvik-proc must be on PATH on the nodes (or set TARVIK_PROC).
#SBATCH --job-name=tarvik-ctf
#SBATCH --cpus-per-task=1
#SBATCH --mem=2G
#SBATCH --time=01:00:00
#SBATCH --output=ctf_%a.log
set -euo pipefail
[ $# -eq 4 ] || { echo "usage: sbatch --array=0-N $0 'GLOB' PIXEL KV CS" >&2; exit 2; }
glob=$1 pixel=$2 kv=$3 cs=$4
proc=${TARVIK_PROC:-tarvik-proc}
task=${SLURM_ARRAY_TASK_ID:-0}
count=${SLURM_ARRAY_TASK_COUNT:-1}
shopt -s nullglob
# The glob is expanded here, on the node, so every task sees the same sorted list.
files=($glob)
mine=()
for ((i = task; i < ${#files[@]}; i += count)); do mine+=("${files[i]}"); done
[ ${#mine[@]} -gt 0 ] || exit 0
out=ctf_${task}.jsonl
# Failed micrographs are named in the log; the others still arrive.
"$proc" ctf "${mine[@]}" --pixel "$pixel" --kv "$kv" --cs "$cs" --json > "$out.tmp" || status=$?
mv "$out.tmp" "$out"
exit "${status:-0}"
