#!/usr/bin/env python3
"""Reads what bench/run.sh recorded and prints the table: each figure the median of the runs with its min and max,
the program under test beside the baselines measured in the same run, then the goals, met or not.

    python3 bench/analyse.py RESULTS_FOLDER

RESULTS_FOLDER holds meta (key=value lines) and, for each measurement, NAME.out (launch_watch's output) and, for
the sequencer runs, NAME.log (the recorders' launches.log). Names: cold-SUBJECT-N, drop-SUBJECT-N, seq-SUBJECT-N.
"""

import os
import re
import statistics
import sys

MS = 1e6  # nanoseconds per millisecond


def read_meta(folder):
    meta = {}
    with open(os.path.join(folder, "meta"), encoding="utf-8") as f:
        for line in f:
            if "=" in line:
                key, value = line.rstrip("\n").split("=", 1)
                meta[key] = value
    return meta


def read_out(path):
    values, captions, samples = {}, [], []
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("caption "):
                _, when, text = line.split(" ", 2)
                captions.append((int(when), text.strip()))
            elif line.startswith("sample"):
                samples.append([int(x) for x in line.split("=", 1)[1].split()])
            elif "=" in line:
                key, value = line.split("=", 1)
                values[key] = int(value)
    values["captions"] = captions
    values["samples"] = samples
    return values


def read_log(path):
    starts = {}
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            for line in f:
                # The recorder's line: its path, its argument count, CLOCK_MONOTONIC in ns, CLOCK_REALTIME.
                path, _, ns, _ = line.rstrip("\n").split("\t")
                starts.setdefault(os.path.basename(path), int(ns))
    return starts


def read_probes(path):
    """{event: [instants]} from `perf script -F time,event --ns`: "  12345.678901234:  selvatro_bench:tick: "."""
    found = {}
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            for line in f:
                m = re.match(r"\s*(\d+)\.(\d{9}):\s+selvatro_bench:(\w+):", line)
                if m:
                    found.setdefault(m.group(3), []).append(int(m.group(1)) * 1000000000 + int(m.group(2)))
    return found


def runs(folder, kind, subject):
    pattern = re.compile(r"^%s-%s-(\d+)\.out$" % (re.escape(kind), re.escape(subject)))
    found = sorted((int(m.group(1)), name) for name in os.listdir(folder) if (m := pattern.match(name)))
    # A watch that failed left no status line: it is left out (run.sh lists it in the file "failures").
    return [os.path.join(folder, name) for _, name in found if "status" in read_out(os.path.join(folder, name))]


def ticks(out):
    """{count: instant} of the captions "<count> sec." as the window manager saw them."""
    found = {}
    for when, text in out["captions"]:
        m = re.fullmatch(r"(\d+) sec\.", text)
        if m:
            found.setdefault(int(m.group(1)), when)
    return found


def slope(points):
    """Least-squares slope of (x, y) points."""
    n = len(points)
    mx = sum(x for x, _ in points) / n
    my = sum(y for _, y in points) / n
    return sum((x - mx) * (y - my) for x, y in points) / sum((x - mx) ** 2 for x, _ in points)


class Table:
    def __init__(self, labels):
        self.labels = labels
        self.rows = []
        self.medians = {}

    def section(self, title):
        self.rows.append(("section", title))

    def add(self, key, metric, subject, values, digits=1):
        label = self.labels.get(subject, subject)
        if not values:
            self.rows.append(("row", metric, label, "n/a"))
            return
        median = statistics.median(values)
        self.medians[key] = (median, min(values), max(values))
        text = f"{median:9.{digits}f}  [{min(values):.{digits}f} .. {max(values):.{digits}f}]  n={len(values)}"
        self.rows.append(("row", metric, label, text))

    def note(self, metric, subject, text):
        self.rows.append(("row", metric, self.labels.get(subject, subject), text))

    def print(self):
        width_metric = max(len(r[1]) for r in self.rows if r[0] == "row")
        width_subject = max(len(r[2]) for r in self.rows if r[0] == "row")
        last = None
        for row in self.rows:
            if row[0] == "section":
                print(f"\n{row[1]}")
                print(f"  {'':<{width_metric}}  {'':<{width_subject}}     median  [min .. max]  runs")
                last = None
                continue
            _, metric, subject, text = row
            print(f"  {metric if metric != last else '':<{width_metric}}  {subject:<{width_subject}}  {text}")
            last = metric


def main():
    folder = sys.argv[1]
    meta = read_meta(folder)
    delays = [int(d) for d in meta["delays"].split()]
    names = [f"r{i + 1}" for i in range(len(delays))]
    labels = dict(item.split(":", 1) for item in meta["labels"].split("|"))
    table = Table(labels)
    subjects = meta["subjects"].split()
    windowed = [s for s in subjects if meta.get(f"window_{s}") == "1"]

    # ---- 1. launch instants ----
    table.section(f"1. Launch instants: {len(delays)} recorders due at {' '.join(map(str, delays))} s")
    for subject in subjects:
        per_ref = {"shown": [], "tick": []}
        signed, drift, period, tick1_vs_shown, latency, problems = [], [], [], [], [], []
        from_entry, worst_entry = [], []
        for path in runs(folder, "seq", subject):
            out = read_out(path)
            starts = read_log(path[:-4] + ".log")
            if any(n not in starts for n in names):
                problems.append(f"{os.path.basename(path)} started only {sorted(starts)}")
                continue
            refs = {"shown": out["shown"]}
            seen = ticks(out)
            if 1 in seen:
                refs["tick"] = seen[1] - 1000 * MS
                tick1_vs_shown.append((refs["tick"] - out["shown"]) / MS)
            for ref, instant in refs.items():
                e = [(starts[n] - (instant + d * 1000 * MS)) / MS for n, d in zip(names, delays)]
                per_ref[ref].append(max(abs(x) for x in e))
                if ref == ("tick" if "tick" in refs else "shown"):
                    signed.extend(e)
                    drift.append(e[-1] - e[0])
            if len(seen) >= 3:
                period.append(slope([(k, t / MS) for k, t in seen.items()]))
            # The caption is set, and sent to the X server at once, before the tick starts its programs: from the
            # caption to the program's own start is the time the start takes.
            latency.extend((starts[n] - seen[d]) / MS for n, d in zip(names, delays) if d in seen)
            # With probes: the tick's own entry, the instant the program acts on.
            entries = read_probes(path[:-4] + ".probes").get("selvatro_tick", [])
            if len(entries) > delays[-1]:
                e = [(starts[n] - entries[d - 1]) / MS for n, d in zip(names, delays)]
                from_entry.extend(e)
                worst_entry.append(max(abs(x) for x in e))
        reference = "window shown" if subject in windowed else "spawn"
        table.add(("worst", subject, "shown"), f"worst |error| vs {reference} (ms)", subject, per_ref["shown"], 2)
        if per_ref["tick"]:
            table.add(("worst", subject, "tick"), "worst |error| vs first tick - 1 s (ms)", subject, per_ref["tick"], 2)
        table.add(("signed", subject), "each error, signed (ms)", subject, signed, 2)
        table.add(("drift", subject), "drift: last error - first (ms)", subject, drift, 2)
        if latency:
            table.add(("latency", subject), "due tick's caption seen -> program start (ms)", subject, latency, 2)
        if from_entry:
            table.add(("worst", subject, "entry"), "worst |error| vs the due tick's entry (ms)", subject, worst_entry, 2)
            table.add(("entry", subject), "due tick's entry -> program start (ms)", subject, from_entry, 2)
        if period:
            table.add(("period", subject), "tick period, fit to the captions (ms)", subject, period, 4)
        if tick1_vs_shown:
            table.add(("tick1", subject), "first tick - 1 s - window shown (ms)", subject, tick1_vs_shown, 2)
        for p in problems:
            table.note("INCOMPLETE RUN", subject, p)
    for item in filter(None, meta.get("unavailable", "").split("|")):
        subject, reason = item.split(":", 1)
        table.note("not measured", subject, reason)

    # ---- 2. cold start ----
    base = meta.get("cold_baseline", "minimal")
    for kind, title in (("cold", "page cache warm"), ("drop", "page cache dropped before each start")):
        cold_subjects = meta.get(f"{kind}_subjects", "").split()
        if not cold_subjects:
            continue
        table.section(f"2. Cold start to the window shown, {title}")
        data = {}
        for subject in cold_subjects:
            outs = [o for o in (read_out(p) for p in runs(folder, kind, subject)) if o["shown"] > 0]
            data[subject] = outs
        for key, metric, get, digits in (
                ("start", "start to window shown (ms)", lambda o: (o["shown"] - o["spawn"]) / MS, 1),
                ("cpu", "CPU time to window shown (ms)", lambda o: o["cpu_shown_ns"] / MS, 1),
                ("rss", "peak RSS (MiB)", lambda o: o["maxrss_kb"] / 1024, 2)):
            for subject in cold_subjects:
                table.add((kind, key, subject), metric, subject, [get(o) for o in data[subject]], digits)
            for subject in cold_subjects:
                if subject == base or (kind, key, subject) not in table.medians or (kind, key, base) not in table.medians:
                    continue
                ratio = table.medians[(kind, key, subject)][0] / table.medians[(kind, key, base)][0]
                table.medians[(kind, key, subject, "ratio")] = (ratio,)
                table.note(metric.split(" (")[0] + ": ratio of medians", subject,
                           f"{ratio:9.3f}  x {labels.get(base, base)}")
    if meta.get("drop_note"):
        table.section("2. Cold start, page cache dropped")
        table.note("not measured", "selvatro", meta["drop_note"])

    # ---- 3. between ticks ----
    table.section(f"3. Between ticks: from 0.5 s after the window shown to 0.5 s after the last delay "
                  f"({delays[-1]} s, all {len(delays)} starts)")
    for subject in subjects:
        cpu, cpu_stat, wakeups = [], [], []
        for path in runs(folder, "seq", subject):
            out = read_out(path)
            if len(out["samples"]) < 2:
                continue
            (t0, c0, k0, s0, _), (t1, c1, k1, s1, _) = out["samples"][:2]
            cpu.append((c1 - c0) / MS)
            cpu_stat.append((k1 - k0) * 10.0)
            wakeups.append((s1 - s0) / ((t1 - t0) / 1e9))
        table.add(("cpu", subject), "CPU time, all threads (ms)", subject, cpu, 2)
        table.add(("cpustat", subject), "same from /proc stat utime+stime (ms, 10 ms steps)", subject, cpu_stat, 0)
        table.add(("switches", subject), "context switches per second", subject, wakeups, 2)

    # ---- 4. the end ----
    table.section("4. Quitter: from the tick after the last delay to the process reaped by its parent")
    for subject in meta.get("quit_subjects", "").split():
        from_due, from_caption = [], []
        for path in runs(folder, "seq", subject):
            out = read_out(path)
            seen = ticks(out)
            if out["exit"] <= 0 or 1 not in seen:
                continue
            # The tick is due one last delay after the first tick, on the program's own clock.
            from_due.append((out["exit"] - (seen[1] + delays[-1] * 1000 * MS)) / MS)
            if delays[-1] + 1 in seen:
                from_caption.append((out["exit"] - seen[delays[-1] + 1]) / MS)
        table.add(("quit", subject), "from its due instant (ms)", subject, from_due, 2)
        table.add(("quitcap", subject), "from its caption seen (ms)", subject, from_caption, 2)

    probed = [s for s in meta.get("quit_subjects", "").split() if runs(folder, "seq", s)
              and read_probes(runs(folder, "seq", s)[0][:-4] + ".probes")]
    for subject in probed:
        from_tick, from_quit, saving = [], [], []
        for path in runs(folder, "seq", subject):
            out = read_out(path)
            probes = read_probes(path[:-4] + ".probes")
            if out["exit"] > 0 and probes.get("selvatro_tick") and probes.get("selvatro_quit"):
                from_tick.append((out["exit"] - probes["selvatro_tick"][-1]) / MS)
                from_quit.append((out["exit"] - probes["selvatro_quit"][-1]) / MS)
                if probes.get("selvatro_end"):
                    saving.append((probes["selvatro_end"][-1] - probes["selvatro_quit"][-1]) / MS)
        table.add(("quitprobe", subject), "from the last tick's entry (ms)", subject, from_tick, 2)
        table.add(("quitentry", subject), "from Quitter's entry (ms)", subject, from_quit, 2)
        table.add(("quitsave", subject), "Quitter's entry -> the process ending itself (ms)", subject, saving, 3)

    rewrite = [s for s in meta.get("quit_subjects", "").split() if runs(folder, "rewrite", s)]
    if rewrite:
        table.section("4. Quitter when the list must be written (a hand-edited list saved in canonical form), "
                      "one program due at 2 s")
        for subject in rewrite:
            from_due = []
            for path in runs(folder, "rewrite", subject):
                out = read_out(path)
                seen = ticks(out)
                if out["exit"] > 0 and 1 in seen:
                    from_due.append((out["exit"] - (seen[1] + 2000 * MS)) / MS)
            table.add(("rewrite", subject), "from its due instant (ms)", subject, from_due, 2)

    table.print()
    failures = os.path.join(folder, "failures")
    if os.path.exists(failures):
        with open(failures, encoding="utf-8") as f:
            print("\nLeft out, their watch failed: " + " ".join(line.split("=", 1)[1].strip() for line in f))

    # ---- the goals ----
    m = table.medians
    print("\nGoals (the median of the runs; the worst run in brackets)")

    def verdict(ok):
        return "met" if ok else "MISSED"

    if ("worst", "selvatro", "shown") in m:
        w = m[("worst", "selvatro", "shown")]
        line = (f"  launch error <= 5 ms, from the window shown + the delay: {w[0]:.2f} ms ({w[2]:.2f} ms): "
                f"{verdict(w[0] <= 5)}")
        if ("worst", "selvatro", "tick") in m:
            t = m[("worst", "selvatro", "tick")]
            line += f"; from its own first tick - 1 s + the delay: {t[0]:.2f} ms ({t[2]:.2f} ms): {verdict(t[0] <= 5)}"
        if ("worst", "probed", "entry") in m:
            t = m[("worst", "probed", "entry")]
            line += f"; from the due tick's entry (probed): {t[0]:.2f} ms ({t[2]:.2f} ms): {verdict(t[0] <= 5)}"
        if ("worst", "bus", "shown") in m:
            b = m[("worst", "bus", "shown")]
            line += f"; with a manager on the bus, from the window shown: {b[0]:.2f} ms ({b[2]:.2f} ms): {verdict(b[0] <= 5)}"
        if ("worst", "minimal", "shown") in m:
            line += f"; the bare Qt window, from the window shown: {m[('worst', 'minimal', 'shown')][0]:.2f} ms"
        print(line)
    if ("drift", "selvatro") in m:
        d = m[("drift", "selvatro")]
        line = f"  no drift over {delays[-1]} s: last error - first {d[0]:+.2f} ms [{d[1]:+.2f} .. {d[2]:+.2f}]"
        if ("period", "selvatro") in m:
            p = m[("period", "selvatro")][0]
            line += f", tick period {p:.4f} ms = {(p - 1000) * delays[-1]:+.2f} ms over the run"
        print(line)
    for kind, title in (("cold", "warm"), ("drop", "page cache dropped")):
        if (kind, "start", "selvatro", "ratio") in m:
            s = m[(kind, "start", "selvatro", "ratio")][0]
            r = m[(kind, "rss", "selvatro", "ratio")][0]
            print(f"  cold start <= 1.15x ({title}): {s:.3f}x: {verdict(s <= 1.15)}; "
                  f"peak RSS <= 1.10x: {r:.3f}x: {verdict(r <= 1.10)}")
    if ("cpu", "selvatro") in m:
        c = m[("cpu", "selvatro")]
        line = f"  CPU between ticks < 20 ms over {delays[-1]} s: {c[0]:.2f} ms ({c[2]:.2f} ms): {verdict(c[0] < 20)}"
        if ("cpu", "minimal") in m:
            line += f"; the bare Qt window doing the same: {m[('cpu', 'minimal')][0]:.2f} ms"
        if ("cpu", "quiet") in m:
            line += f", without changing its caption: {m[('cpu', 'quiet')][0]:.2f} ms"
        print(line)
    if ("quit", "selvatro") in m:
        q = m[("quit", "selvatro")]
        line = f"  Quitter < 5 ms: {q[0]:.2f} ms ({q[2]:.2f} ms): {verdict(q[0] < 5)}"
        if ("quit", "minimal") in m:
            line += f"; the bare Qt window's same durable save and exit: {m[('quit', 'minimal')][0]:.2f} ms"
        print(line)
    if ("quitprobe", "probed") in m:
        q = m[("quitprobe", "probed")]
        print(f"  Quitter < 5 ms, from the last tick's entry (probed): {q[0]:.2f} ms ({q[2]:.2f} ms): {verdict(q[0] < 5)}")
    if ("rewrite", "selvatro") in m:
        q = m[("rewrite", "selvatro")]
        line = f"  Quitter < 5 ms, list to rewrite: {q[0]:.2f} ms ({q[2]:.2f} ms): {verdict(q[0] < 5)}"
        if ("rewrite", "minimal") in m:
            line += f"; the bare Qt window: {m[('rewrite', 'minimal')][0]:.2f} ms"
        print(line)


if __name__ == "__main__":
    main()
