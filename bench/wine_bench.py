#!/usr/bin/env python3
"""Selvatro's Windows build under Wine beside a bare Win32 window, measured in the same run (bench/run-wine.sh
starts this under a private X server with a window manager, after the build).

    wine_bench.py --build DIR --runs N [--compare EXE] [--keep DIR]

Each round runs, one after the other, selvatro.exe with a list of three recorders due at 2, 3 and 4 s (and, with
--compare, another Selvatro executable with the same list: an earlier build, say), the bare window
(bench/minimal_window_win32.cpp) starting the same recorders at the same delays, and the same bare window built to
also initialise COM and write its Startup shortcut through IShellLinkW before it is shown, as Selvatro's design
needs at every start. The first yardstick is what Win32 alone costs, the second what the design needs. From each run:
- cold start: from the launch (just before `wine PROGRAM` is started) to its window shown, that is to the window
  manager setting WM_STATE on a window with the program's caption (polled with xdotool and xprop);
- the first tick: the caption first reading "1 sec.", seen the same way;
- launch instants: each recorder's start, read from its log (the host's clock, as Wine gives it), minus its due
  instant, counted from the launch (launch + delay: Wine's own start-up included) and from the first tick (first
  tick + delay - 1 s: the program's own accuracy, less the polling's lateness in seeing the tick);
- peak memory: the program's own peak resident set (VmHWM of the launched process, whose pid Wine's loader keeps,
  read every 20 ms until it ends), and the largest sum of the resident sets of the launched process and its
  descendants sampled at the same times. Wine starts a Windows program through a double fork, so the recorders
  leave that tree at once: the sum catches one only while it is being made. Wine's shared services (wineserver,
  explorer.exe, services.exe), started before the rounds and used by both programs, are not counted.
- the modules loaded: the DLLs mapped into the launched process (its /proc maps: Wine maps each loaded DLL from its
  file) when its window is first seen shown, and every one mapped at any sample until its end.
Every wait is bounded: a run that outlasts its time limit is killed and left out of the table, and said so.
"""
import argparse
import json
import os
import platform
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

DELAYS = {"alpha": 2, "beta": 3, "gamma": 4}
RUN_LIMIT = 30.0  # seconds: the longest run is about 6 s under Wine
POLL = 0.01
PAGE = os.sysconf("SC_PAGE_SIZE")
WINDOW_PATTERN = r"^(Selvatro|Minimal|[0-9]+ sec\.)$"
MODULE_EVERY = 0.25  # seconds between two readings of the mapped DLLs, after the one at the window shown
LABELS = {"selvatro": "selvatro.exe", "compare": "compared", "minimal": "bare Win32 window",
          "shortcut": "bare window + shortcut"}
# The modules whose loading at start is the question: the open dialog's and the screen-reader service's.
WATCHED = ("comdlg32.dll", "oleacc.dll")


def quiet(args, limit=10.0, env=None):
    """Runs a short helper; its output, or "" when it fails or outlasts its limit."""
    try:
        done = subprocess.run(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              timeout=limit, env=env, check=False)
    except (subprocess.TimeoutExpired, OSError):
        return ""
    return done.stdout.decode(errors="replace") if done.returncode == 0 else ""


def tree_rss(root):
    """The summed resident set of root and its descendants, in bytes."""
    parents = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat", "rb") as stat:
                fields = stat.read().rsplit(b")", 1)[1].split()
            parents[int(entry)] = int(fields[1])
        except (OSError, IndexError, ValueError):
            continue
    tree, grew = {root}, True
    while grew:
        grew = False
        for pid, parent in parents.items():
            if parent in tree and pid not in tree:
                tree.add(pid)
                grew = True
    total = 0
    for pid in tree:
        try:
            with open(f"/proc/{pid}/statm") as statm:
                total += int(statm.read().split()[1]) * PAGE
        except (OSError, IndexError, ValueError):
            continue
    return total


def high_water(pid):
    """The process's peak resident set so far (VmHWM), in bytes; 0 once it is gone."""
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * 1024
    except (OSError, IndexError, ValueError):
        pass
    return 0


def modules(pid):
    """The Windows modules mapped into the process (lower-case file names), or None once it is gone."""
    try:
        with open(f"/proc/{pid}/maps") as maps:
            names = {line.rsplit("/", 1)[1].strip().lower() for line in maps if "/" in line}
    except OSError:
        return None
    return sorted(n for n in names if n.endswith((".dll", ".drv")))


def shown_window():
    """A window with one of the programs' captions that the window manager manages (WM_STATE set), or None."""
    for window in quiet(["xdotool", "search", "--name", WINDOW_PATTERN], 2.0).split():
        if "window state" in quiet(["xprop", "-id", window, "WM_STATE"], 2.0):
            return window
    return None


def measure(command, folder, env):
    """One run: launch, window shown, first tick, end, peak RSS; the instants as Unix seconds."""
    result = {"failed": False}
    launch = time.time()
    process = subprocess.Popen(command, cwd=folder, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, start_new_session=True)
    result["launch"] = launch
    window, peak, hwm, last_sample, last_modules = None, 0, 0, 0.0, 0.0
    loaded = set()
    while True:
        now = time.time()
        if process.poll() is not None:
            result["end"] = now
            break
        if now - launch > RUN_LIMIT:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait(timeout=10)
            result["failed"] = True
            break
        if now - last_sample >= 0.02:
            peak = max(peak, tree_rss(process.pid))
            hwm = max(hwm, high_water(process.pid))
            last_sample = now
        if now - last_modules >= MODULE_EVERY:
            loaded.update(modules(process.pid) or [])
            last_modules = now
        if window is None:
            window = shown_window()
            if window is not None:
                result["shown"] = time.time()
                at_shown = modules(process.pid)
                if at_shown is not None:
                    result["modules_shown"] = at_shown
                    loaded.update(at_shown)
        elif "tick" not in result:
            if quiet(["xdotool", "getwindowname", window], 2.0).strip() == "1 sec.":
                result["tick"] = time.time()
        time.sleep(POLL)
    result["status"] = process.returncode
    result["peak_rss"] = peak
    result["hwm"] = hwm
    result["modules_run"] = sorted(loaded)
    return result


def read_log(folder):
    starts = {}
    try:
        with open(os.path.join(folder, "launches.log")) as log:
            for line in log:
                name, _, when = line.rstrip("\n").split("\t")
                starts.setdefault(name.removesuffix(".exe"), float(when))
    except (OSError, ValueError):
        pass
    return starts


def summary(values, scale=1.0, digits=0):
    if not values:
        return "-"
    values = [v * scale for v in values]
    form = f"{{:.{digits}f}}"
    return f"{form.format(statistics.median(values))} ({form.format(min(values))} to {form.format(max(values))})"


def load_average():
    """The 1, 5 and 15 minute load averages, as text: other work on the machine moves every figure."""
    try:
        with open("/proc/loadavg") as load:
            return " ".join(load.read().split()[:3])
    except OSError:
        return "unknown"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--compare", help="another selvatro.exe, measured with the same list in the same rounds")
    parser.add_argument("--keep")
    options = parser.parse_args()
    build = os.path.realpath(options.build)
    root = os.path.dirname(os.path.dirname(os.path.realpath(__file__)))

    env = dict(os.environ)
    env.update(WINEPREFIX=os.path.join(build, "wineprefix"), WINEARCH="win64", WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree=", SELVATRO_WINE_BUILD_DIR=build)
    # The prefix made, its server kept and its services up for this display: the runner of the tests does it.
    runner = os.path.join(root, "cmake", "wine-run.sh")
    subprocess.run(["bash", runner, "cmd", "/c", "exit"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300, check=False)
    # Both programs measured with a server that stays up between runs, as Windows' services do.
    server = subprocess.Popen(["wineserver", "-p", "-f"], env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    load_before = load_average()
    work = tempfile.mkdtemp(prefix="wine-bench.", dir=build)
    try:
        programs = {"selvatro": os.path.join(build, "selvatro.exe")}
        if options.compare:
            programs["compare"] = os.path.realpath(options.compare)
            LABELS["compare"] = f"compared ({os.path.basename(options.compare)})"
        programs["minimal"] = os.path.join(build, "bench", "bench_minimal_window_win32.exe")
        programs["shortcut"] = os.path.join(build, "bench", "bench_shortcut_window_win32.exe")
        folders = {}
        for subject, program in programs.items():
            folder = os.path.join(work, subject)
            os.makedirs(folder)
            # Each Selvatro in a folder of its own under its own name (its list beside it); the yardstick's logon
            # entry is named "Minimal" whatever the file's name.
            shutil.copy(program, os.path.join(folder, ("selvatro" if subject == "compare" else subject) + ".exe"))
            for name in DELAYS:
                shutil.copy(os.path.join(build, "bench", "bench_win32_recorder.exe"),
                            os.path.join(folder, name + ".exe"))
            folders[subject] = folder
        windows = {s: quiet(["wine", "winepath", "-w", f], 60, env).strip() for s, f in folders.items()}
        if not all(windows.values()):
            sys.exit("wine_bench: winepath gave no Windows path for the folders")
        def listing(subject):
            rows = [f'"{windows[subject]}\\{name}.exe","{delay}"\r\n' for name, delay in DELAYS.items()]
            rows += ['"",""\r\n'] * (5 - len(rows))
            return "".join(rows).encode()

        def run_arguments(subject):
            return ["--run"] + [part for name, delay in DELAYS.items()
                                for part in (str(delay), f'{windows[subject]}\\{name}.exe')]

        commands = {subject: ["wine", os.path.join(folders[subject], "selvatro.exe")]
                    for subject in programs if subject in ("selvatro", "compare")}
        commands["minimal"] = ["wine", os.path.join(folders["minimal"], "minimal.exe")] + run_arguments("minimal")
        commands["shortcut"] = ["wine", os.path.join(folders["shortcut"], "shortcut.exe")] + run_arguments("shortcut")

        runs = {subject: [] for subject in programs}
        for round_number in range(1, options.runs + 1):
            for subject in programs:
                folder = folders[subject]
                with open(os.path.join(folder, "selvatro.cfg"), "wb") as list_file:
                    list_file.write(listing(subject))
                log = os.path.join(folder, "launches.log")
                if os.path.exists(log):
                    os.remove(log)
                result = measure(commands[subject], folder, env)
                time.sleep(0.5)  # the last recorder's line written
                result["starts"] = read_log(folder)
                result["round"] = round_number
                runs[subject].append(result)
                print(f"wine_bench: round {round_number} {subject}: "
                      f"{'FAILED (time limit)' if result['failed'] else 'ok'}", file=sys.stderr)
                time.sleep(1.0)
        if options.keep:
            os.makedirs(options.keep, exist_ok=True)
            with open(os.path.join(options.keep, "wine-runs.json"), "w") as raw:
                json.dump(runs, raw, indent=1)
    finally:
        shutil.rmtree(work, ignore_errors=True)
        subprocess.run(["wineserver", "-k"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30, check=False)
        try:
            server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            server.kill()

    report(runs, options.runs, env, (load_before, load_average()))


def ratio(numerators, denominators):
    """The ratio of two medians, as text."""
    if not numerators or not denominators:
        return "-"
    return f"{statistics.median(numerators) / statistics.median(denominators):.2f}"


def report(runs, rounds, env, loads):
    figures = []
    notes = []
    columns = {}
    good_runs = {}
    for subject, results in runs.items():
        good = [r for r in results if not r["failed"] and "shown" in r]
        good_runs[subject] = good
        left = len(results) - len(good)
        if left:
            notes.append(f"{subject}: {left} of {len(results)} runs failed (time limit or no window seen), left out")
        missing = sum(1 for r in good for name in DELAYS if name not in r["starts"])
        if missing:
            notes.append(f"{subject}: {missing} recorder starts missing from the logs")
        column = {
            "cold start to window shown (ms)": summary([r["shown"] - r["launch"] for r in good], 1000),
            "launch to first tick seen (ms)": summary([r["tick"] - r["launch"] for r in good if "tick" in r], 1000),
            "start error from the launch (ms)": summary(
                [r["starts"][n] - (r["launch"] + d) for r in good for n, d in DELAYS.items() if n in r["starts"]],
                1000),
            "start error from the first tick seen (ms)": summary(
                [r["starts"][n] - (r["tick"] + d - 1) for r in good if "tick" in r for n, d in DELAYS.items()
                 if n in r["starts"]], 1000),
            "last start to process end (ms)": summary(
                [r["end"] - max(r["starts"].values()) for r in good if r["starts"] and "end" in r], 1000),
            "peak RSS, the program's process (MiB)": summary([r["hwm"] for r in good], 1 / 1048576, 1),
            "peak RSS, process tree sampled (MiB)": summary([r["peak_rss"] for r in good], 1 / 1048576, 1),
            "DLLs mapped at window shown": summary([len(r["modules_shown"]) for r in good if "modules_shown" in r]),
            "exit status 0": f"{sum(1 for r in good if r['status'] == 0)} of {len(good)}",
        }
        for name in WATCHED:
            column[f"{name} mapped at window shown / ever"] = (
                f"{sum(1 for r in good if name in r.get('modules_shown', []))} / "
                f"{sum(1 for r in good if name in r['modules_run'])} of {len(good)}")
        columns[subject] = column
        figures = list(column)

    cpu = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as info:
            cpu = next((line.split(":", 1)[1].strip() for line in info if line.startswith("model name")), cpu)
    except OSError:
        pass
    wine = quiet(["wine", "--version"], 30, env).strip() or "unknown Wine"
    subjects = list(runs)
    print()
    print(f"Machine: {cpu}, {os.cpu_count()} CPUs, Linux {platform.release()}; {wine}; Xvfb + openbox")
    print(f"{rounds} rounds, interleaved; three recorders due at 2, 3 and 4 s; median (min to max)")
    print(f"Load average (1, 5, 15 min): before {loads[0]}, after {loads[1]}")
    print("Wine is not Windows: these figures are Wine's on Linux, not what Windows would show.")
    print()
    width = max(len(f) for f in figures)
    print(f"| {'figure':<{width}} | " + " | ".join(LABELS[s] for s in subjects) + " |")
    print(f"|{'-' * (width + 2)}|" + "|".join("-" * (len(LABELS[s]) + 2) for s in subjects) + "|")
    for figure in figures:
        print(f"| {figure:<{width}} | " + " | ".join(columns[s][figure] for s in subjects) + " |")

    # Each Selvatro against each yardstick: the ratio of the medians of the same rounds.
    print()
    print("Ratios of the medians, each Selvatro over each yardstick:")
    print()
    programs = [s for s in subjects if s in ("selvatro", "compare")]
    yardsticks = [s for s in subjects if s in ("minimal", "shortcut")]
    print("| ratio | " + " | ".join(f"{LABELS[p]} / {LABELS[y]}" for p in programs for y in yardsticks) + " |")
    print("|---|" + "---|" * (len(programs) * len(yardsticks)))
    for figure, value in (("peak RSS, the program's process", lambda r: r["hwm"]),
                          ("cold start to window shown", lambda r: r["shown"] - r["launch"])):
        print(f"| {figure} | " + " | ".join(
            ratio([value(r) for r in good_runs[p]], [value(r) for r in good_runs[y]])
            for p in programs for y in yardsticks) + " |")

    # What the program maps at its window shown beyond what the design needs, and the other way round.
    print()
    for program in programs:
        for yardstick in yardsticks:
            mine = [set(r["modules_shown"]) for r in good_runs[program] if "modules_shown" in r]
            theirs = [set(r["modules_shown"]) for r in good_runs[yardstick] if "modules_shown" in r]
            if not mine or not theirs:
                continue
            # A module counts when it was mapped in every run of one and in none of the other.
            extra = sorted(set.intersection(*mine) - set.union(*theirs))
            fewer = sorted(set.intersection(*theirs) - set.union(*mine))
            print(f"DLLs at window shown, {LABELS[program]} and not {LABELS[yardstick]}: {' '.join(extra) or '-'}"
                  + (f"; the other way round: {' '.join(fewer)}" if fewer else ""))
    for note in notes:
        print(f"note: {note}")


if __name__ == "__main__":
    main()
