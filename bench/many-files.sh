#!/usr/bin/env bash
# Many files in one process: trustcheck-inspect over COUNT signed PEs of 100
# KiB, pinned to one core, against osslsigncode verify run once per file on
# the same files in the same run; and the peak resident memory of one run
# naming PATHS paths. Usage: bench/many-files.sh [-b BUILD] [-n COUNT] [-p PATHS]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
fixtures=$root/tests/fixtures
build=$root/build
count=2000
paths=10000
peer_sample=100
scratch=${TMPDIR:-/tmp}/trustcheck-bench-many

while getopts "b:n:p:h" option; do
    case $option in
        b) build=$OPTARG ;;
        n) count=$OPTARG ;;
        p) paths=$OPTARG ;;
        *) sed -n '2,5p' "$0" >&2; exit 2 ;;
    esac
done

die() { echo "bench: $*" >&2; exit 1; }
inspect=$build/inspect/trustcheck-inspect
[[ -x $inspect ]] || die "no trustcheck-inspect in $build/inspect"
command -v osslsigncode >/dev/null || die "osslsigncode is not installed"
[[ -x /usr/bin/time ]] || die "/usr/bin/time is not installed (Debian package: time)"

# COUNT copies of one signed 100 KiB PE (the fixture leaf and intermediate,
# SHA-256, no time-stamp): each is opened, mapped and hashed on its own.
mkdir -p "$scratch/files"
if [[ ! -s $scratch/files/$((count - 1)).exe ]]; then
    base=$fixtures/pe/unsigned64.exe
    overlay=$((100 * 1024 - $(stat -c %s "$base") - 2048))
    { cat "$base"; head -c "$overlay" /dev/zero |
        openssl enc -aes-128-ctr -nosalt -K 00112233445566778899aabbccddeeff -iv 0 2>/dev/null; } >"$scratch/unsigned.exe"
    cat "$fixtures/pki/leaf.pem" "$fixtures/pki/intermediate.pem" >"$scratch/chain.pem"
    osslsigncode sign -certs "$scratch/chain.pem" -key "$fixtures/pki/leaf.key" -h sha256 -n "trustcheck benchmark" \
        -in "$scratch/unsigned.exe" -out "$scratch/signed.exe" >/dev/null
    for ((i = 0; i < count; i++)); do cp "$scratch/signed.exe" "$scratch/files/$i.exe"; done
fi
mapfile -t files < <(for ((i = 0; i < count; i++)); do echo "$scratch/files/$i.exe"; done)

# The stock store exactly as a user without settings has it.
unset SSL_CERT_FILE SSL_CERT_DIR
bundle=/etc/ssl/certs/ca-certificates.crt

seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b - a) / 1000000 }'; }
now() { echo "${EPOCHREALTIME/./}"; }

# Warm the page cache and the store's files.
taskset -c 0 "$inspect" --json "${files[@]}" >/dev/null || true

start=$(now)
taskset -c 0 "$inspect" --json "${files[@]}" >"$scratch/report.jsonl" || true
end=$(now)
inspect_seconds=$(seconds "$start" "$end")
lines=$(wc -l <"$scratch/report.jsonl")
[[ $lines -eq $count ]] || die "expected $count reports, got $lines"

start=$(now)
for ((i = 0; i < peer_sample; i++)); do
    taskset -c 0 osslsigncode verify -CAfile "$bundle" -in "${files[i]}" >/dev/null 2>&1 || true
done
end=$(now)
peer_seconds=$(seconds "$start" "$end")

# Peak memory of one run that names PATHS paths (the COUNT files, again and
# again).
mapfile -t many < <(for ((i = 0; i < paths; i++)); do echo "${files[i % count]}"; done)
# The verdicts' exit status does not matter here.
rss=$({ /usr/bin/time -v "$inspect" --json "${many[@]}" 2>&1 >/dev/null || true; } |
    awk -F': ' '/Maximum resident set size/ { print $2 }')

awk -v n="$count" -v t="$inspect_seconds" -v pn="$peer_sample" -v pt="$peer_seconds" -v rss="$rss" -v paths="$paths" \
    -v code="$(head -c 60 "$scratch/report.jsonl" | sed 's/.*"code":"\([0-9A-F]*\)".*/\1/')" 'BEGIN {
    rate = n / t; peer = pn / pt
    printf "trustcheck-inspect, one process, one core: %d files in %.2f s = %.0f files/s (target >= 2000): %s\n", n, t, rate, (rate >= 2000 ? "PASS" : "FAIL")
    printf "osslsigncode verify, one process a file:   %d files in %.2f s = %.0f files/s; ratio %.1fx\n", pn, pt, peer, rate / peer
    printf "peak resident memory naming %d paths: %.1f MiB (target <= 16): %s\n", paths, rss / 1024, (rss <= 16384 ? "PASS" : "FAIL")
    printf "(result code of each file with the stock store: %s)\n", code
}'
