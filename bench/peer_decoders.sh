#!/bin/bash
# Decoding CPU time against a peer codec, whole processes measured side by
# side: the g729a tool and Speex's speexdec (Debian package speex) each
# decode the same 60 s of speech (the speech vectors back to back), runs
# alternating, and the fastest run of each counts (other work on the
# machine can only slow a run down). Prints user+system seconds of each and
# their ratio.
#   bench/peer_decoders.sh [BUILD_DIR] [RUNS]
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
runs=${2:-9}
tool=$build/tools/g729a
vectors=$here/tests/data/vectors
for program in "$tool" speexenc speexdec; do
    if ! command -v "$program" >/dev/null; then
        echo "peer_decoders.sh: $program not found (build the g729a tool; install the speex package)" >&2
        exit 1
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for i in 1 2 3; do
    cat "$vectors/speech_male_librivox.raw" "$vectors/speech_male_espeak.raw" "$vectors/speech_female_espeak.raw"
done >"$work/three.raw"
head -c 960000 "$work/three.raw" >"$work/speech.raw"
"$tool" encode -q -t raw "$work/speech.raw" "$work/speech.g729"
speexenc --quiet --rate 8000 --le --16bit "$work/speech.raw" "$work/speech.spx" 2>/dev/null

# CPU seconds (user + system) of one run of the command.
cpu_seconds() {
    local TIMEFORMAT='%U %S'
    { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%.4f\n", $1 + $2 }'
}

best_g729=999
best_speex=999
for _ in $(seq "$runs"); do
    t=$(cpu_seconds "$tool" decode -q "$work/speech.g729" "$work/out_g729.raw")
    best_g729=$(awk -v a="$t" -v b="$best_g729" 'BEGIN { print (a < b) ? a : b }')
    t=$(cpu_seconds speexdec "$work/speech.spx" "$work/out_speex.raw")
    best_speex=$(awk -v a="$t" -v b="$best_speex" 'BEGIN { print (a < b) ? a : b }')
done
printf 'decoding 60 s of speech, fastest of %d runs each (CPU seconds, user + system)\n' "$runs"
printf '  g729a decode  %.3f\n  speexdec      %.3f  (%s)\n' "$best_g729" "$best_speex" "$(speexdec --version 2>&1 | head -1)"
awk -v a="$best_g729" -v b="$best_speex" 'BEGIN { printf "  ratio         %.2f of speexdec\n", a / b }'
