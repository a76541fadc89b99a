#!/bin/bash
# Particle extraction of many micrographs as a SLURM job array: task i of N
# takes every N-th micrograph from the i-th on and writes its particles into
# OUTDIR, with its own table OUTDIR/particles_i.star.
#
#   sbatch --array=0-99 docs/extract_slurm.sh 'Micrographs/*.mrc' Particles --size 256 --picks AutoPick --invert
#   relion_star_handler --combine --i "$(ls Particles/particles_*.star | tr '\n' ' ')" --o Particles/particles.star
#
# tarvik-proc must be on PATH on the nodes (or set TARVIK_PROC).
#SBATCH --job-name=tarvik-extract
#SBATCH --cpus-per-task=4
#SBATCH --mem=4G
#SBATCH --time=01:00:00
#SBATCH --output=extract_%a.log
set -euo pipefail
[ $# -ge 3 ] || { echo "usage: sbatch --array=0-N $0 'GLOB' OUTDIR --size N [extract options]" >&2; exit 2; }
glob=$1 out=$2
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
# Failed micrographs are named in the log; the others still arrive.
"$proc" extract "${mine[@]}" --out "$out" --star "$out/particles_${task}.star" "$@"
