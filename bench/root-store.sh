#!/usr/bin/env bash
# Microsoft's root program as a store: the import's time and the store's
# size, and one small file verified against the imported store next to the
# stock store in the same run (interleaved rounds, medians, and the ratio).
# Usage: bench/root-store.sh -i INPUT_DIR -f FILE [-b BUILD] [-n ROUNDS]
#   INPUT_DIR  authroot.stl and the root certificates (never in the clone)
#   FILE       a small signed file, e.g. one of the real-file suite's
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
rounds=41
input=
file=
while getopts "b:i:f:n:h" option; do
    case $option in
        b) build=$OPTARG ;;
        i) input=$OPTARG ;;
        f) file=$OPTARG ;;
        n) rounds=$OPTARG ;;
        *) sed -n '2,8p' "$0" >&2; exit 2 ;;
    esac
done
die() { echo "bench: $*" >&2; exit 1; }
[[ -n $input && -n $file ]] || { sed -n '2,8p' "$0" >&2; exit 2; }
importer=$build/rootstore/trustcheck-roots
tool=$build/trustcheck
[[ -x $importer && -x $tool ]] || die "no trustcheck-roots or trustcheck in $build"
[[ -x /usr/bin/time ]] || die "/usr/bin/time is not installed (Debian package: time)"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
store=$scratch/store
: >"$scratch/empty.pem"

now() { echo "${EPOCHREALTIME/./}"; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# The import, from scratch each time (the swap replaces the previous store).
for ((i = 0; i < 5; i++)); do
    start=$(now)
    "$importer" "$input" "$store" >"$scratch/summary"
    echo $(($(now) - start))
done >"$scratch/import.us"
/usr/bin/time -v "$importer" "$input" "$store" 2>"$scratch/import.time" >/dev/null
echo "import: median $(median <"$scratch/import.us") us over 5 runs," \
    "peak $(awk -F': ' '/Maximum resident/ { print $2 }' "$scratch/import.time") KiB"
sed 's/^/  /' "$scratch/summary"
echo "store: $(find "$store" -type f | wc -l) files, $(du -sb "$store" | cut -f1) bytes ($(du -sh "$store" | cut -f1) on disk)"

stock() { env -u SSL_CERT_FILE -u SSL_CERT_DIR "$tool" "$file"; }
imported() { SSL_CERT_FILE=$scratch/empty.pem SSL_CERT_DIR=$store "$tool" "$file"; }
echo "stock:    $(stock || true)"
echo "imported: $(imported || true)"
stock >/dev/null || true
imported >/dev/null || true
: >"$scratch/stock.us"
: >"$scratch/imported.us"
for ((i = 0; i < rounds; i++)); do
    start=$(now); stock >/dev/null || true; echo $(($(now) - start)) >>"$scratch/stock.us"
    start=$(now); imported >/dev/null || true; echo $(($(now) - start)) >>"$scratch/imported.us"
done
s=$(median <"$scratch/stock.us")
m=$(median <"$scratch/imported.us")
echo "verify $(stat -c %s "$file") bytes, median of $rounds rounds: stock $s us, imported $m us," \
    "ratio imported/stock $(awk -v a="$m" -v b="$s" 'BEGIN { printf "%.2f", a / b }')"
