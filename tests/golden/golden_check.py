#!/usr/bin/env python3
"""Output equality check: runs the generated jobs through the filter and
compares each job's printer bytes (SHA-256 and length) and exit status with
the recorded ones, so a change that alters a single output byte fails.

  golden_check.py --jobs BIN --filter BIN --ppd-dir DIR --expected FILE [--record]

--record rewrites FILE from the current filter instead of comparing.
"""
import argparse
import hashlib
import os
import subprocess
import sys
import tempfile


def run_jobs(args, work):
    manifest = subprocess.run([args.jobs, args.ppd_dir, work], check=True,
                              capture_output=True, text=True).stdout
    results = {}
    for line in manifest.splitlines():
        name, ppd, options = line.split("\t")
        env = dict(os.environ, PPD=os.path.join(args.ppd_dir, ppd))
        with open(os.path.join(work, name + ".ras"), "rb") as raster:
            run = subprocess.run([args.filter, "1", "user", "title", "1", options],
                                 stdin=raster, capture_output=True, env=env, timeout=60)
        digest = hashlib.sha256(run.stdout).hexdigest()
        results[name] = f"{name} {ppd} {run.returncode} {len(run.stdout)} {digest}"
    return results


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--jobs", required=True)
    parser.add_argument("--filter", required=True)
    parser.add_argument("--ppd-dir", required=True)
    parser.add_argument("--expected", required=True)
    parser.add_argument("--record", action="store_true")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as work:
        results = run_jobs(args, work)
    if args.record:
        with open(args.expected, "w") as out:
            out.write("# job ppd exit-status output-length output-sha256\n")
            out.writelines(line + "\n" for line in results.values())
        print(f"recorded {len(results)} jobs")
        return 0

    expected = {}
    with open(args.expected) as recorded:
        for line in recorded:
            if line.strip() and not line.startswith("#"):
                expected[line.split()[0]] = line.strip()
    failures = [f"  expected {expected.get(name, '(none)')}\n  got      {got}"
                for name, got in results.items() if expected.get(name) != got]
    missing = sorted(set(expected) - set(results))
    for failure in failures:
        print(failure)
    for name in missing:
        print(f"  job {name} was not generated")
    print(f"{len(results)} jobs, {len(failures)} differ, {len(missing)} missing")
    return 1 if failures or missing or not results else 0


if __name__ == "__main__":
    sys.exit(main())
