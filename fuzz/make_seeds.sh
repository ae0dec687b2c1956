#!/usr/bin/env bash
# Seeds the signature-level fuzz corpora with the PKCS#7 signatures of the
# PE fixtures (the file-level targets read the fixtures themselves).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
fixtures="$here/../tests/fixtures/pe"
out="$here/corpus/signed_message"
mkdir -p "$out"
for file in "$fixtures"/signed*.exe "$fixtures"/trust-*.exe; do
  name=$(basename "$file" .exe)
  rm -f "$out/$name.p7"
  osslsigncode extract-signature -in "$file" -out "$out/$name.p7" >/dev/null 2>&1 || rm -f "$out/$name.p7"
done
ls "$out" | wc -l
