#!/usr/bin/env python3
"""timing.py - time ziptext against its peers on the benchmark archives.

Called by bench/run.sh; see there.  For every archive it runs every tool
once to warm the caches, then REPS rounds in which the tools take turns, so
that a slow moment of the machine falls on all of them alike.  Each run
writes the extracted text to a file in the scratch directory, which is
removed before the next run.  Wall time and peak RSS come from vtq_bench_run
(fork, exec, wait4; the peak covers the children of a shell loop too).  The table gives the median time of the rounds, member
data per second, the largest peak RSS, and both as a ratio to `unzip -p`.

With --smoke every tool runs once on the small archives, a peer that is not
installed is skipped, and the run fails when a tool fails or when the text
that ziptext and unzip wrote is shorter than the members hold.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time
import zipfile

ARCHIVES = ["big", "stored", "many", "nested"]


def member_bytes(path):
    """Uncompressed bytes of the text members; inner archives are opened."""
    total = 0
    largest = 0  # compressed + uncompressed of the largest top-level member
    with zipfile.ZipFile(path) as z:
        for info in z.infolist():
            if info.is_dir():
                continue
            largest = max(largest, info.compress_size + info.file_size)
            if info.filename.endswith(".zip"):
                with z.open(info) as f, zipfile.ZipFile(f) as inner:
                    total += sum(i.file_size for i in inner.infolist() if not i.is_dir())
            else:
                total += info.file_size
    return total, largest


def run_once(runner, argv, out_path, shell=False):
    """Runs argv with stdout to out_path; returns (seconds, peak RSS KiB, status)."""
    if os.path.exists(out_path):
        os.remove(out_path)
    command = ["sh", "-c", argv] if shell else argv
    result = subprocess.run([runner, out_path] + command, capture_output=True, text=True, check=True)
    secs, kib, status = result.stdout.split()
    return float(secs), int(kib), int(status)


def tools_for(name, archive, args, scratch):
    """(label, argv or shell text, shell?, writes its own output file) per tool."""
    out = os.path.join(scratch, "ziptext.txt")
    tools = [("ziptext -o", [args.ziptext, archive, "-o", out], False, out)]
    q = lambda s: "'" + s.replace("'", "'\\''") + "'"
    if name == "nested":
        # The peers cannot look into inner archives: unzip (or bsdtar) to
        # temporary files, then extract each inner archive to the output.
        loop = ('d=$(mktemp -d -p {s}) && {x} && for f in "$d"/*.zip; do {p} "$f"; done; '
                'rc=$?; rm -rf "$d"; exit $rc')
        tools.append(("unzip -p", loop.format(s=q(scratch), x="unzip -qq " + q(archive) + ' -d "$d"',
                                              p="unzip -p"), True, None))
        tools.append(("bsdtar -xOf", loop.format(s=q(scratch), x="bsdtar -xf " + q(archive) + ' -C "$d"',
                                                 p="bsdtar -xOf"), True, None))
    else:
        tools.append(("unzip -p", ["unzip", "-p", archive], False, None))
        tools.append(("bsdtar -xOf", ["bsdtar", "-xOf", archive], False, None))
    tools.append(("floor", [args.floor, archive], False, None))
    if args.floor_zlib:
        tools.append(("floor (zlib)", [args.floor, "--engine", "zlib", archive], False, None))
    return tools


def available(label):
    peer = label.split()[0]
    return peer not in ("unzip", "bsdtar") or shutil.which(peer) is not None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--ziptext", required=True)
    ap.add_argument("--floor", required=True)
    ap.add_argument("--runner", required=True, help="vtq_bench_run")
    ap.add_argument("--floor-zlib", action="store_true", help="also time the floor with zlib")
    ap.add_argument("--archives", required=True, help="directory with the four archives")
    ap.add_argument("--scratch", required=True, help="directory for outputs")
    ap.add_argument("--reps", type=int, default=5)
    ap.add_argument("--smoke", action="store_true")
    args = ap.parse_args()

    failures = []
    rows = []
    checks = []
    for name in ARCHIVES:
        archive = os.path.join(args.archives, name + ".zip")
        data, largest = member_bytes(archive)
        tools = [t for t in tools_for(name, archive, args, args.scratch) if available(t[0])]
        missing = [t[0] for t in tools_for(name, archive, args, args.scratch) if not available(t[0])]
        if missing and not args.smoke:
            sys.exit("timing.py: not installed: " + ", ".join(missing))
        times = {t[0]: [] for t in tools}
        rss = {t[0]: 0 for t in tools}
        rounds = 1 if args.smoke else args.reps + 1  # the first round warms up
        for r in range(rounds):
            for label, argv, shell, own_out in tools:
                stdout_to = os.path.join(args.scratch, "stdout.txt")
                out = own_out or stdout_to
                secs, kib, rc = run_once(args.runner, argv, stdout_to, shell)
                if rc != 0:
                    failures.append("%s on %s exited with %d" % (label, name, rc))
                produced = os.path.getsize(out) if os.path.exists(out) else 0
                if args.smoke and label in ("ziptext -o", "unzip -p") and produced < data:
                    failures.append("%s on %s wrote %d bytes, the members hold %d"
                                    % (label, name, produced, data))
                for p in (out, stdout_to):
                    if os.path.exists(p):
                        os.remove(p)
                if r > 0 or args.smoke:
                    times[label].append(secs)
                    rss[label] = max(rss[label], kib)
        base_t = statistics.median(times["unzip -p"]) if "unzip -p" in times else None
        base_m = rss.get("unzip -p")
        for label, _, _, _ in tools:
            t = statistics.median(times[label])
            rows.append((name, label, t, data / t / 1e6, rss[label],
                         t / base_t if base_t else None,
                         rss[label] / base_m if base_m else None))
        med = {label: statistics.median(v) for label, v in times.items()}
        zt = med["ziptext -o"]
        limit_kib = (largest + (16 << 20)) // 1024
        if name == "big" and "unzip -p" in med:
            checks.append(("big: ziptext <= 0.51 x unzip -p", zt / med["unzip -p"], 0.51))
        if name == "stored" and "bsdtar -xOf" in med:
            checks.append(("stored: ziptext <= 2 x bsdtar -xOf", zt / med["bsdtar -xOf"], 2.0))
        if name == "many" and "unzip -p" in med:
            checks.append(("many: ziptext <= 2.0 x unzip -p", zt / med["unzip -p"], 2.0))
        if name == "nested" and "unzip -p" in med:
            checks.append(("nested: ziptext <= 0.5 x unzip loop", zt / med["unzip -p"], 0.5))
        checks.append(("%s: ziptext peak RSS <= largest member + 16 MiB (%d KiB)" % (name, limit_kib),
                       rss["ziptext -o"] / limit_kib, 1.0))

    print("%-7s %-13s %9s %9s %11s %8s %8s" % ("archive", "tool", "median s", "MB/s", "peak RSS KiB",
                                                "t/unzip", "RSS/unzip"))
    for name, label, t, mbs, kib, rt, rm in rows:
        print("%-7s %-13s %9.3f %9.1f %11d %8s %8s" % (
            name, label, t, mbs, kib, "%.2f" % rt if rt is not None else "-",
            "%.2f" % rm if rm is not None else "-"))
    print()
    for text, ratio, limit in checks:
        print("%-62s %6.2f  %s" % (text, ratio, "met" if ratio <= limit else "MISSED"))
    if failures:
        print("\n".join(["", "failures:"] + failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
