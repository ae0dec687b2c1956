#!/usr/bin/env python3
"""Checks trustcheck's code for every file of tests/real/files.tsv under two
trust settings, against the code the Windows verifier gives:

  stock     Debian's CA bundle (/etc/ssl/certs)
  packaged  only the roots of tests/real/roots.tsv, as the packages ship them

The files come from scripts/fetch-real-files. Without them the check is skipped
(exit status 77, which CTest reports as skipped) with the reason on stdout.

Rows of known-differences.tsv are the engine's known departures from the
Windows answer: they are reported, not failed, and a listed row that now gets
the Windows answer is reported so it can come off the list.
"""
import argparse
import collections
import concurrent.futures
import csv
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SKIP = 77
STOCK_FILE = "/etc/ssl/certs/ca-certificates.crt"
STOCK_DIR = "/etc/ssl/certs"


def default_cache():
    base = os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache")
    return os.environ.get("TRUSTCHECK_REAL_FILES") or os.path.join(base, "trustcheck", "real-files")


def read_table(name):
    with open(os.path.join(HERE, name), newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f, delimiter="\t"))


def code_of(text):
    return "0" if int(text, 16) == 0 else f"0x{int(text, 16):08X}"


def run(trustcheck, path, cert_file, cert_dir):
    """The code trustcheck prints for path, or a description of what went wrong."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("SSL_")}
    env.update(SSL_CERT_FILE=cert_file, SSL_CERT_DIR=cert_dir)
    done = subprocess.run(trustcheck + [path], capture_output=True, env=env, timeout=60)
    out = done.stdout.decode("utf-8", "replace")
    lines = out.splitlines()
    prefix = path + ": "
    if done.stderr or len(lines) != 1 or not lines[0].startswith(prefix):
        return f"unexpected output {out!r} stderr {done.stderr[:200]!r}"
    return code_of(lines[0][len(prefix):].split(" ", 1)[0])


CODES = {"0", "0x800B0100", "0x800B010A", "0x800B0109", "0x800B0101", "0x80096005", "0x80096010", "0x8009200D",
         "0x80096004", "0x800B0110", "0x800B0111", "0x80092004", "0x80096003", "0x80096019", "0x800B0114",
         "0x80096011"}


def table_errors():
    """Mistakes in the tables themselves, found without the files."""
    errors = []
    packages = {(r["source"], r["package"], r["version"]) for r in read_table("packages.tsv")}
    rows = read_table("files.tsv")
    keys = set()
    for table, listed in (("files.tsv", rows), ("roots.tsv", read_table("roots.tsv"))):
        for r in listed:
            name = f"{table}: {r['package']} {r['version']} {r['path']}"
            if (r["source"], r["package"], r["version"]) not in packages:
                errors.append(f"{name}: package not pinned in packages.tsv")
            if len(r["sha256"]) != 64 or any(c not in "0123456789abcdef" for c in r["sha256"]):
                errors.append(f"{name}: bad SHA-256")
            if r["path"].startswith("/") or ".." in r["path"].split("/"):
                errors.append(f"{name}: path must stay inside the package")
    for r in rows:
        key = (r["path"], r["version"])
        if key in keys:
            errors.append(f"files.tsv: {r['path']} {r['version']} listed twice")
        keys.add(key)
        for setting in ("stock", "packaged"):
            if r[setting] not in CODES:
                errors.append(f"files.tsv: {r['path']}: unknown code {r[setting]!r} for {setting}")
        if not r["reason"].strip() or not r["licence"].strip():
            errors.append(f"files.tsv: {r['path']}: reason and licence are required")
    for r in read_table("known-differences.tsv"):
        if (r["path"], r["version"]) not in keys or r["setting"] not in ("stock", "packaged"):
            errors.append(f"known-differences.tsv: {r['path']} {r['version']} {r['setting']} names no check")
    return errors


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--check-tables", action="store_true", help="only check the tables, without the files")
    parser.add_argument("--trustcheck", help="command that runs the tool (split on spaces)")
    parser.add_argument("--cache", default=default_cache())
    parser.add_argument("--jobs", type=int, default=2)
    args = parser.parse_args()

    errors = table_errors()
    for error in errors:
        print(error)
    if errors or args.check_tables:
        return 1 if errors else 0
    if not args.trustcheck:
        parser.error("--trustcheck is required")

    rows = read_table("files.tsv")
    known = {(r["path"], r["version"], r["setting"]): r for r in read_table("known-differences.tsv")}
    files = os.path.join(args.cache, "files")
    roots = os.path.join(args.cache, "packaged-roots.pem")
    missing = [r for r in rows
               if not os.path.isfile(os.path.join(files, r["source"], r["package"], r["version"], r["path"]))]
    if missing or not os.path.isfile(roots):
        print(f"SKIP: the real files are not in {args.cache} ({len(missing)} of {len(rows)} missing); "
              "run scripts/fetch-real-files first")
        return SKIP
    if not os.path.isfile(STOCK_FILE):
        print(f"SKIP: no Debian CA bundle at {STOCK_FILE}")
        return SKIP

    settings = {"stock": (STOCK_FILE, STOCK_DIR), "packaged": (roots, os.path.join(args.cache, "empty"))}
    os.makedirs(os.path.join(args.cache, "empty"), exist_ok=True)
    trustcheck = args.trustcheck.split()
    jobs = []
    for row in rows:
        path = os.path.join(files, row["source"], row["package"], row["version"], row["path"])
        for setting, (cert_file, cert_dir) in settings.items():
            jobs.append((row, setting, path, cert_file, cert_dir))

    started = time.monotonic()
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        results = list(pool.map(lambda j: run(trustcheck, j[2], j[3], j[4]), jobs))
    elapsed = time.monotonic() - started

    failures, noted, fixed = [], [], []
    counts = collections.Counter()
    for (row, setting, _path, _f, _d), got in zip(jobs, results):
        expected = row[setting]
        counts[(setting, expected)] += 1
        name = f"{row['package']} {row['version']} {row['path']} [{setting}]"
        entry = known.get((row["path"], row["version"], setting))
        if got == expected:
            if entry:
                fixed.append(f"{name}: now {got}; remove it from known-differences.tsv")
        elif entry and entry["engine"] == got:
            noted.append(f"{name}: {got}, Windows {expected} ({entry['why']})")
        else:
            failures.append(f"{name}: got {got}, expected {expected} -- {row['reason']}")

    print(f"{len(rows)} files, {len(jobs)} checks in {elapsed:.1f} s")
    for setting in settings:
        line = ", ".join(f"{code} x{n}" for (s, code), n in sorted(counts.items()) if s == setting)
        print(f"  {setting}: {line}")
    for title, items in (("known differences", noted), ("no longer different", fixed), ("FAILED", failures)):
        if items:
            print(f"{title} ({len(items)}):")
            for item in items:
                print("  " + item)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
