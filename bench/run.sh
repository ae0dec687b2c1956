#!/usr/bin/env bash
# Times trustcheck against floors and a peer, side by side in one run, on
# signed PEs of 100 KiB, 1 MiB, 100 MiB and 1 GiB made from the fixture PKI:
#   - `openssl dgst -sha256`, one pass of the digest over the same file;
#   - the compute floor: the same bytes at the speed `openssl speed -evp
#     sha256` measures on this machine in this run (256 KiB blocks);
#   - `openssl version`, the cost of starting a program on libcrypto;
#   - the peer, `osslsigncode verify`.
# Prints the CPU, medians, ratios against the targets and peak resident
# memory. Usage: bench/run.sh --help
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
fixtures=$root/tests/fixtures

build=$root/build
scratch=${TMPDIR:-/tmp}/trustcheck-bench
sizes="100K 1M 100M 1G"
reps_small=40   # files up to 1 MiB
reps_large=9    # 100 MiB
reps_huge=5     # 1 GiB

usage() {
    cat <<EOF
Usage: bench/run.sh [options]
  -b DIR     build folder holding trustcheck (default: $build)
  -s DIR     scratch folder for the generated files (default: $scratch)
  -z SIZES   sizes to run, from: 100K 1M 100M 1G (default: "$sizes")
  -n N       repetitions for 100 KiB and 1 MiB (default: $reps_small)
  -N N       repetitions for 100 MiB (default: $reps_large); 1 GiB gets
             ${reps_huge} unless -H N says otherwise
  -H N       repetitions for 1 GiB
  -h         this text
Needs: osslsigncode, openssl, /usr/bin/time (Debian: osslsigncode openssl time).
EOF
}

while getopts "b:s:z:n:N:H:h" option; do
    case $option in
        b) build=$OPTARG ;;
        s) scratch=$OPTARG ;;
        z) sizes=$OPTARG ;;
        n) reps_small=$OPTARG ;;
        N) reps_large=$OPTARG ;;
        H) reps_huge=$OPTARG ;;
        h) usage; exit 0 ;;
        *) usage >&2; exit 2 ;;
    esac
done

die() { echo "bench: $*" >&2; exit 1; }

trustcheck=$build/trustcheck
[[ -x $trustcheck ]] || die "no trustcheck in $build (build it, or name the folder with -b)"
for tool in osslsigncode openssl; do
    command -v "$tool" >/dev/null || die "$tool is not installed"
done
[[ -x /usr/bin/time ]] || die "/usr/bin/time is not installed (Debian package: time)"
# Whole-microsecond wall clock without starting a process.
[[ -n ${EPOCHREALTIME:-} ]] || die "needs bash 5 (EPOCHREALTIME)"

stock_bundle=/etc/ssl/certs/ca-certificates.crt
fixture_root=$fixtures/trust/trusted.pem

# ---------------------------------------------------------------------------
# Files
# ---------------------------------------------------------------------------

bytes_of() {
    case $1 in
        100K) echo $((100 * 1024)) ;;
        1M) echo $((1024 * 1024)) ;;
        100M) echo $((100 * 1024 * 1024)) ;;
        1G) echo $((1024 * 1024 * 1024)) ;;
        *) die "unknown size $1" ;;
    esac
}

# signed_pe SIZE: a PE of about SIZE bytes signed by the fixture leaf (chain:
# leaf, intermediate; SHA-256; no time-stamp). unsigned64.exe with a
# pseudo-random overlay, which the image digest covers like any other byte.
# Made once and kept in the scratch folder.
signed_pe() {
    local size=$1 out=$scratch/signed-$1.exe
    if [[ ! -s $out ]]; then
        local target base=$fixtures/pe/unsigned64.exe
        target=$(bytes_of "$size")
        local overlay=$((target - $(stat -c %s "$base") - 2048))  # the signature takes about 2 KiB
        {
            cat "$base"
            head -c "$overlay" /dev/zero |
                openssl enc -aes-128-ctr -nosalt -K 00112233445566778899aabbccddeeff -iv 0 2>/dev/null
        } >"$scratch/unsigned-$size.exe"
        rm -f "$out.tmp"
        osslsigncode sign -certs "$scratch/chain.pem" -key "$fixtures/pki/leaf.key" -h sha256 \
            -n "trustcheck benchmark" -in "$scratch/unsigned-$size.exe" -out "$out.tmp" >"$scratch/sign.log" 2>&1 ||
            { cat "$scratch/sign.log" >&2; die "signing the $size file failed"; }
        rm -f "$scratch/unsigned-$size.exe"
        mv "$out.tmp" "$out"
    fi
    echo "$out"
}

mkdir -p "$scratch/no-certificates"
cat "$fixtures/pki/leaf.pem" "$fixtures/pki/intermediate.pem" >"$scratch/chain.pem"

declare -A file
for size in $sizes; do
    echo "preparing the $size file in $scratch" >&2
    file[$size]=$(signed_pe "$size")
done

# ---------------------------------------------------------------------------
# Trust
# ---------------------------------------------------------------------------

# The stock store: OpenSSL's default locations, exactly as a user without
# settings has them. This machine may export SSL_CERT_FILE/SSL_CERT_DIR
# globally; an explicit SSL_CERT_FILE makes the engine parse that whole
# bundle, as OpenSSL would, so both are unset here.
use_stock_store() {
    unset SSL_CERT_FILE SSL_CERT_DIR
    osslsigncode_trust=(-CAfile "$stock_bundle")
    trust_label="stock system store: SSL_CERT_FILE and SSL_CERT_DIR unset; osslsigncode -CAfile $stock_bundle"
}

# The fixture root only, for both tools.
use_fixture_root() {
    export SSL_CERT_FILE=$fixture_root SSL_CERT_DIR=$scratch/no-certificates
    osslsigncode_trust=(-CAfile "$fixture_root")
    trust_label="fixture root only: SSL_CERT_FILE=tests/fixtures/trust/trusted.pem, SSL_CERT_DIR empty; osslsigncode -CAfile the same file"
}

# ---------------------------------------------------------------------------
# Measuring
# ---------------------------------------------------------------------------

# run_tool NAME FILE: one run of a tool, its output discarded.
run_tool() {
    case $1 in
        trustcheck) "$trustcheck" "$2" ;;
        dgst) openssl dgst -sha256 "$2" ;;
        osslsigncode) osslsigncode verify "${osslsigncode_trust[@]}" -in "$2" ;;
        spawn) /bin/true ;;
        version) openssl version ;;
    esac
}

# median FILE: the median of the numbers in FILE, one a line.
median() {
    sort -n "$1" | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# peak_rss TOOL FILE: the tool's maximum resident set in KiB, as /usr/bin/time -v reports it.
peak_rss() {
    local tool=$1 path=$2
    # The verdict's exit status does not matter here.
    case $tool in
        trustcheck) /usr/bin/time -v "$trustcheck" "$path" 2>&1 >/dev/null || true ;;
        dgst) /usr/bin/time -v openssl dgst -sha256 "$path" 2>&1 >/dev/null || true ;;
        osslsigncode) /usr/bin/time -v osslsigncode verify "${osslsigncode_trust[@]}" -in "$path" 2>&1 >/dev/null || true ;;
    esac | awk -F': ' '/Maximum resident set size/ { print $2 }' || true
}

declare -A med rss
tools=(trustcheck dgst osslsigncode spawn version)

# measure KEY FILE REPS: interleaved repetitions (each round runs every tool
# once, so a change in the machine's load touches all of them alike), after
# one warm-up round that also fills the page cache.
measure() {
    local key=$1 path=$2 reps=$3 tool rep start end
    local samples=$scratch/samples
    rm -rf "$samples" && mkdir -p "$samples"
    for tool in "${tools[@]}"; do run_tool "$tool" "$path" >/dev/null 2>&1 || true; done
    for ((rep = 0; rep < reps; rep++)); do
        for tool in "${tools[@]}"; do
            start=$EPOCHREALTIME
            run_tool "$tool" "$path" >/dev/null 2>&1 || true
            end=$EPOCHREALTIME
            echo $((${end/./} - ${start/./})) >>"$samples/$tool"
        done
    done
    for tool in "${tools[@]}"; do
        med[$key,$tool]=$(median "$samples/$tool")
    done
    for tool in trustcheck dgst osslsigncode; do
        rss[$key,$tool]=$(peak_rss "$tool" "$path")
    done
}

ms() { awk -v us="$1" 'BEGIN { printf "%.2f", us / 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
# verdict VALUE LIMIT: PASS when VALUE <= LIMIT.
verdict() { awk -v v="$1" -v l="$2" 'BEGIN { print (v <= l) ? "PASS" : "FAIL" }'; }

load() { cut -d' ' -f1 /proc/loadavg; }

# sha256_bytes_per_us: pure SHA-256 throughput on 256 KiB blocks, as
# `openssl speed` measures it (its last column is in thousands of bytes per
# second).
sha256_bytes_per_us() {
    openssl speed -evp sha256 -bytes 262144 -seconds 3 2>/dev/null |
        awk '/^sha256/ || /^SHA256/ { v = $NF } END { sub(/k$/, "", v); printf "%.1f", v * 1000 / 1e6 }'
}

# ---------------------------------------------------------------------------
# The run
# ---------------------------------------------------------------------------

echo "trustcheck benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) CPUs, $(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo) RAM, kernel $(uname -r)"
echo "tools:   trustcheck $trustcheck ($(ldd "$trustcheck" | grep -q libcrypto && echo "libcrypto shared" || echo "libcrypto static")), $(openssl version), $(osslsigncode --version 2>&1 | head -1 | sed "s/, using:$//")"
echo "times:   wall clock of the whole process as started from bash, median of interleaved runs;"
echo "         'spawn' is /bin/true started the same way (the cost of starting any process here)"
echo "load:    1-minute load average $(load) at the start"
floor_rate=$(sha256_bytes_per_us)
echo "floor:   openssl speed -evp sha256, 256 KiB blocks: $(awk -v r="$floor_rate" 'BEGIN { printf "%.2f", r / 1000 }') GB/s"
echo

failures=0
check() {  # check LABEL VALUE LIMIT
    local result
    result=$(verdict "$2" "$3")
    [[ $result == PASS ]] || failures=$((failures + 1))
    printf '  %-52s %8s  (target <= %s)  %s\n' "$1" "$2" "$3" "$result"
}

if [[ " $sizes " == *" 100K "* ]]; then
    use_stock_store
    path=${file[100K]}
    echo "== small file: $(stat -c %s "$path") bytes, $trust_label"
    echo "   trustcheck says: $("$trustcheck" "$path" || true)"
    echo "   (the fixture root is not in the stock store, so the chain ends in 800B010A after the same lookups)"
    measure stock "$path" "$reps_small"
    printf '  %-14s %10s %12s\n' tool "median ms" "peak RSS MiB"
    for tool in trustcheck osslsigncode dgst; do
        printf '  %-14s %10s %12s\n' "$tool" "$(ms "${med[stock,$tool]}")" "$(mib "${rss[stock,$tool]}")"
    done
    printf '  %-14s %10s\n' "openssl version" "$(ms "${med[stock,version]}")"
    printf '  %-14s %10s\n' spawn "$(ms "${med[stock,spawn]}")"
    echo
fi

use_fixture_root
echo "== every size, $trust_label"
# floor_us SIZE: the compute floor for the file's bytes.
floor_us() { awk -v b="$(stat -c %s "${file[$1]}")" -v r="$floor_rate" 'BEGIN { printf "%.0f", b / r }'; }
printf '  %-6s %11s %6s %10s %10s %10s %12s %8s %8s %8s %9s\n' size bytes reps "trustcheck" "dgst" "floor" "osslsigncd" "tc/dgst" "tc/floor" "tc/osc" "tc RSS"
printf '  %-6s %11s %6s %10s %10s %10s %12s %8s %8s %8s %9s\n' "" "" "" "ms" "ms" "ms" "ms" "" "" "" "MiB"
for size in $sizes; do
    path=${file[$size]}
    answer=$("$trustcheck" "$path" || true)
    [[ $answer == *": 0 ("* ]] || die "trustcheck does not accept $path: $answer"
    case $size in
        100K | 1M) reps=$reps_small ;;
        100M) reps=$reps_large ;;
        1G) reps=$reps_huge ;;
    esac
    measure "$size" "$path" "$reps"
    printf '  %-6s %11s %6s %10s %10s %10s %12s %8s %8s %8s %9s\n' "$size" "$(stat -c %s "$path")" "$reps" \
        "$(ms "${med[$size,trustcheck]}")" "$(ms "${med[$size,dgst]}")" "$(ms "$(floor_us "$size")")" "$(ms "${med[$size,osslsigncode]}")" \
        "$(ratio "${med[$size,trustcheck]}" "${med[$size,dgst]}")" \
        "$(ratio "${med[$size,trustcheck]}" "$(floor_us "$size")")" \
        "$(ratio "${med[$size,trustcheck]}" "${med[$size,osslsigncode]}")" "$(mib "${rss[$size,trustcheck]}")"
done
printf '  peak RSS MiB of the peers:'
for size in $sizes; do printf '  %s dgst %s, osslsigncode %s;' "$size" "$(mib "${rss[$size,dgst]}")" "$(mib "${rss[$size,osslsigncode]}")"; done
echo
echo

echo "== targets"
for size in 100M 1G; do
    [[ -n ${med[$size,trustcheck]:-} ]] || continue
    check "$size: trustcheck / openssl dgst -sha256" "$(ratio "${med[$size,trustcheck]}" "${med[$size,dgst]}")" 0.85
    check "$size: trustcheck / pure SHA-256 of its bytes" "$(ratio "${med[$size,trustcheck]}" "$(floor_us "$size")")" 1.5
done
if [[ -n ${med[stock,trustcheck]:-} ]]; then
    check "100 KiB, stock store: trustcheck / openssl version" "$(ratio "${med[stock,trustcheck]}" "${med[stock,version]}")" 1.0
    check "100 KiB, stock store: trustcheck / osslsigncode" "$(ratio "${med[stock,trustcheck]}" "${med[stock,osslsigncode]}")" 0.25
fi
for size in $sizes; do
    check "$size: trustcheck peak RSS MiB" "$(mib "${rss[$size,trustcheck]}")" 16
done
# Linear in size: the cost of each further MiB between 1 MiB and 100 MiB and
# between 100 MiB and 1 GiB should be the same.
if [[ -n ${med[1M,trustcheck]:-} && -n ${med[100M,trustcheck]:-} ]]; then
    per_mib_low=$(awk -v a="${med[1M,trustcheck]}" -v b="${med[100M,trustcheck]}" 'BEGIN { printf "%.0f", (b - a) / 99 }')
    echo "  scaling: each MiB from 1 MiB to 100 MiB costs $per_mib_low us"
    if [[ -n ${med[1G,trustcheck]:-} ]]; then
        per_mib_high=$(awk -v a="${med[100M,trustcheck]}" -v b="${med[1G,trustcheck]}" 'BEGIN { printf "%.0f", (b - a) / 924 }')
        echo "  scaling: each MiB from 100 MiB to 1 GiB costs $per_mib_high us"
        check "scaling: per-MiB cost above 100 MiB / below" "$(ratio "$per_mib_high" "$per_mib_low")" 1.15
    fi
fi
echo "load:    1-minute load average $(load) at the end"
[[ $failures -eq 0 ]] && echo "all targets met" || echo "$failures target(s) missed"
