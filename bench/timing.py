#!/usr/bin/env python3
"""timing.py - time ziptext against its peers on the benchmark archives.

Called by bench/run.sh; see there.  For every archive it runs every tool
once to warm the caches, then REPS rounds in which the tools take turns, so
that a slow moment of the machine falls on all of them alike.  Each run
writes the extracted text to a file in the scratch directory, which is
removed before the next run.  Wall time and peak RSS come from vtq_bench_run
(fork, exec, wait4; the peak covers the children of a shell loop too).

The table gives per archive and tool the median time of the rounds, member
data per second, microseconds per member, the largest peak RSS, and time and
RSS as a ratio to the fastest peer (unzip -p or bsdtar -xOf, whichever has
the lower median on that archive).  Then the targets, each met or MISSED:
ziptext's time against the fastest peer, its peak RSS against the largest
member (compressed plus uncompressed) + 16 MiB on every archive and on
tiny200k (200,000 members: memory must not grow with the count), and the
--jobs scaling over 40 copies of many.

With --smoke every tool runs once on the small archives, a peer that is not
installed is skipped, no target is judged, and the run fails when a tool
fails or when the text that ziptext and unzip wrote is shorter than the
members hold.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import zipfile

# Archive -> most ziptext may take, as a multiple of the fastest peer's time.
TARGETS = {"big": 0.60, "stored": 1.2, "many": 1.0, "tiny": 3.0, "nested": 0.5}
ARCHIVES = list(TARGETS)
PEERS = ("unzip -p", "bsdtar -xOf")
JOBS_COPIES = 40
JOBS_SPEEDUP = 1.8  # --jobs 2 against --jobs 1, at least


def member_stats(path):
    """(uncompressed bytes of the text members, text members, largest
    compressed + uncompressed top-level member); inner archives are opened."""
    total = count = largest = 0
    with zipfile.ZipFile(path) as z:
        for info in z.infolist():
            if info.is_dir():
                continue
            largest = max(largest, info.compress_size + info.file_size)
            if info.filename.endswith(".zip"):
                with z.open(info) as f, zipfile.ZipFile(f) as inner:
                    files = [i for i in inner.infolist() if not i.is_dir()]
                    total += sum(i.file_size for i in files)
                    count += len(files)
            else:
                total += info.file_size
                count += 1
    return total, count, largest


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
    if args.before:
        before_out = os.path.join(scratch, "before.txt")
        tools.append(("before -o", [args.before, archive, "-o", before_out], False, before_out))
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


def time_tools(tools, rounds, args, data, smoke, failures, name):
    """Runs the tools in turns; returns ({label: [seconds]}, {label: peak KiB})."""
    times = {t[0]: [] for t in tools}
    rss = {t[0]: 0 for t in tools}
    for r in range(rounds):
        for label, argv, shell, own_out in tools:
            stdout_to = os.path.join(args.scratch, "stdout.txt")
            out = own_out or stdout_to
            secs, kib, rc = run_once(args.runner, argv, stdout_to, shell)
            if rc != 0:
                failures.append("%s on %s exited with %d" % (label, name, rc))
            produced = os.path.getsize(out) if os.path.exists(out) else 0
            if smoke and label in ("ziptext -o", "before -o", "unzip -p") and produced < data:
                failures.append("%s on %s wrote %d bytes, the members hold %d"
                                % (label, name, produced, data))
            for p in (out, stdout_to):
                if os.path.exists(p):
                    os.remove(p)
            if r > 0 or smoke:
                times[label].append(secs)
                rss[label] = max(rss[label], kib)
    return times, rss


def jobs_runs(args, rounds, copies, failures):
    """Median seconds of ziptext --jobs 1 and --jobs 2 over copies of many."""
    src = os.path.join(args.archives, "many.zip")
    inputs = os.path.join(args.scratch, "jobs-in")
    outdir = os.path.join(args.scratch, "jobs-out")
    shutil.rmtree(inputs, ignore_errors=True)
    os.makedirs(inputs)
    names = []
    for i in range(copies):
        names.append(os.path.join(inputs, "many%02d.zip" % i))
        os.symlink(src, names[-1])
    result = {}
    for r in range(rounds):
        for jobs in (1, 2):
            shutil.rmtree(outdir, ignore_errors=True)
            os.makedirs(outdir)
            argv = [args.ziptext, "--jobs", str(jobs), "--out-dir", outdir] + names
            secs, _, rc = run_once(args.runner, argv, os.path.join(args.scratch, "stdout.txt"))
            if rc != 0:
                failures.append("ziptext --jobs %d on %d copies of many exited with %d" % (jobs, copies, rc))
            if r > 0 or rounds == 1:
                result.setdefault(jobs, []).append(secs)
    shutil.rmtree(outdir, ignore_errors=True)
    shutil.rmtree(inputs, ignore_errors=True)
    return {jobs: statistics.median(v) for jobs, v in result.items()}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--ziptext", required=True)
    ap.add_argument("--floor", required=True)
    ap.add_argument("--runner", required=True, help="vtq_bench_run")
    ap.add_argument("--floor-zlib", action="store_true", help="also time the floor with zlib")
    ap.add_argument("--archives", required=True, help="directory with the archives")
    ap.add_argument("--scratch", required=True, help="directory for outputs")
    ap.add_argument("--reps", type=int, default=5)
    ap.add_argument("--before", help="another ziptext build, timed alongside as 'before -o'")
    ap.add_argument("--no-jobs", action="store_true", help="skip the --jobs scaling runs")
    ap.add_argument("--smoke", action="store_true")
    args = ap.parse_args()

    failures = []
    rows = []
    checks = []
    rounds = 1 if args.smoke else args.reps + 1  # the first round warms up
    for name in ARCHIVES:
        archive = os.path.join(args.archives, name + ".zip")
        data, count, largest = member_stats(archive)
        all_tools = tools_for(name, archive, args, args.scratch)
        tools = [t for t in all_tools if available(t[0])]
        missing = [t[0] for t in all_tools if not available(t[0])]
        if missing and not args.smoke:
            sys.exit("timing.py: not installed: " + ", ".join(missing))
        times, rss = time_tools(tools, rounds, args, data, args.smoke, failures, name)
        med = {label: statistics.median(v) for label, v in times.items()}
        peers = [p for p in PEERS if p in med]
        fastest = min(peers, key=lambda p: med[p]) if peers else None
        for label, _, _, _ in tools:
            t = med[label]
            rows.append((name, label, t, data / t / 1e6, t / count * 1e6, rss[label],
                         t / med[fastest] if fastest else None,
                         rss[label] / rss[fastest] if fastest else None,
                         label == fastest))
        limit_kib = (largest + (16 << 20)) // 1024
        if fastest:
            checks.append(("%s: ziptext <= %.2f x the fastest peer (%s)" % (name, TARGETS[name], fastest),
                           med["ziptext -o"] / med[fastest], TARGETS[name], False))
        checks.append(("%s: ziptext peak RSS <= largest member + 16 MiB (%d KiB)" % (name, limit_kib),
                       rss["ziptext -o"] / limit_kib, 1.0, False))

    # 200,000 members: ziptext alone (and the build before), for its memory and its
    # time per member.
    archive = os.path.join(args.archives, "tiny200k.zip")
    data, count, largest = member_stats(archive)
    tools = [t for t in tools_for("tiny200k", archive, args, args.scratch) if t[0].endswith(" -o")]
    times, rss = time_tools(tools, rounds, args, data, args.smoke, failures, "tiny200k")
    for label, _, _, _ in tools:
        t = statistics.median(times[label])
        rows.append(("tiny200k", label, t, data / t / 1e6, t / count * 1e6, rss[label], None, None, False))
    limit_kib = (largest + (16 << 20)) // 1024
    checks.append(("tiny200k: ziptext peak RSS <= largest member + 16 MiB (%d KiB)" % limit_kib,
                   rss["ziptext -o"] / limit_kib, 1.0, False))

    jobs = None
    if not args.no_jobs:
        copies = 2 if args.smoke else JOBS_COPIES
        jobs = jobs_runs(args, 1 if args.smoke else min(rounds, 4), copies, failures)

    print("%-8s %-13s %9s %9s %9s %11s %7s %7s" % ("archive", "tool", "median s", "MB/s", "us/member",
                                                   "peak RSS KiB", "t/peer", "RSS/peer"))
    for name, label, t, mbs, per, kib, rt, rm, is_fastest in rows:
        print("%-8s %-13s %9.3f %9.1f %9.2f %11d %7s %7s%s" % (
            name, label, t, mbs, per, kib, "%.2f" % rt if rt is not None else "-",
            "%.2f" % rm if rm is not None else "-", "  fastest peer" if is_fastest else ""))
    if jobs:
        print("\n%d copies of many, --out-dir: --jobs 1 %.3f s, --jobs 2 %.3f s (%d CPUs)"
              % (copies, jobs[1], jobs[2], os.cpu_count()))
        checks.append(("jobs: --jobs 2 at least %.1f x as fast as --jobs 1" % JOBS_SPEEDUP,
                       jobs[1] / jobs[2], JOBS_SPEEDUP, True))
    print()
    if not args.smoke:
        print("%-66s %6s" % ("target", "ratio"))
        for text, ratio, limit, at_least in checks:
            met = ratio >= limit if at_least else ratio <= limit
            print("%-66s %6.2f  %s" % (text, ratio, "met" if met else "MISSED"))
    if failures:
        print("\n".join(["", "failures:"] + failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
