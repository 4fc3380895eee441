#!/usr/bin/env python3
"""Runs every benchmark of a bench build and prints one table.

Each figure is the project measured beside a reference in the same run; the
machines are shared and noisy, so only the ratio of the two counts. The table
goes to standard output and, with --results, into a Markdown file together
with the machine it ran on. Programs' own output goes to <build>/bench-run/logs.

    scripts/run-bench.py --build build-bench [--results bench/RESULTS.md]
"""

import argparse
import base64
import datetime
import glob
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

NOTES = """\
How the figures are taken (every reference runs in the same process or side
by side with the project, so both meet the same load):

- In-process figures are Google Benchmark programs (bench/bench_*.cpp), 9
  repetitions each. Every benchmark runs project and reference in turns
  (turns of 200 calls where a call takes microseconds) and times each turn
  apart, so every sample of one side is taken beside a sample of the other:
  both meet the same moods of the machine and the disk. Times are CPU time,
  which leaves out the time other processes held the core, except the press
  (wall time: it waits for the disk).
- Each side's median is shown; the ratio of an in-process figure is the
  median of its repetitions' ratios, start-up ratios are those of the
  medians. Spread is half the interquartile range, relative to the median, of
  the repetitions' ratios, or of the noisier side's start-up samples: a ratio
  within about that much of its goal is a close call on this run.
- One code: 6 digits over an 8-byte counter with the RFC test keys. The
  project keeps nothing of a key after the call: its `EVP_MAC_CTX` is keyed
  again with a public key before it returns, which costs one more keying
  than a context that keeps the key. The SHA-1 floor is what HMAC-SHA-1
  cannot do without: the inner hash (64-byte key block + 8-byte message, 72
  bytes) and the outer hash (key block + 20-byte digest, 84 bytes), two
  compressions each, with the digest fetched once and one context reused.
  SHA-256/512 are measured against an `EVP_MAC_CTX` made once with its digest
  and re-keyed per call, which keeps the last key.
- Protection: `Encrypt`/`Decrypt` of a Credential's text (Base64 of two
  20-byte keys and a counter, 65 bytes) against the EVP calls alone on the
  same bytes: one context per direction whose key schedule is made once, each
  call restarting it with the IV (no Base64: that is the project's overhead).
- One press: `ReserveCounter` on a one-token database against one prepared
  `UPDATE` of a Credential on a file the project made, with the project file's
  journal mode and synchronous FULL. Syncs are fsync + fdatasync counted by
  `strace -f -c` around 10 writes minus the same program doing none.
- Many tokens: the reference reads every column of `select *` by position and
  decrypts each Credential once (EVP_DecodeBlock + the lean decrypt above); the
  menu and list references create the same Qt objects with the same texts.
  The manage view is constructed and destroyed, not shown.
- Start-up: exec to the first painted frame of the main window (a hook in both
  programs ends the process there): wall time from spawn to exit and peak RSS
  from wait4, over interleaved runs. The reference opens the same database, checks both
  tables, reads the PIN, runs a SHA-1 and a triple-DES decrypt, then shows a
  389x218 window with a menu bar.
- The command line: `velmora-cli code` of a TOTP token with its PIN file, a
  whole process from spawn to exit over interleaved runs, against a bare
  program linking the same libraries (the storage layer, the engine, the
  interchange library, Qt Core) that opens the same database, checks the PIN
  file against the stored hash, reads the row and computes the code; all three
  programs run under the same nss_wrapper preload that gives velmora-cli its
  scratch home. The import: 1,000 Key URIs read, planned against the store and
  stored in one transaction, against one transaction of 1,000 prepared
  INSERTs of the same rows made beforehand, with the project file's journal
  mode and synchronous FULL; the rows are deleted between turns, off the clock.
  Wall time, so the project's second core counts: it reads a long text in two
  halves at once and encrypts the Credentials on a second thread while the
  rows go in; the reference runs on one thread with its Credentials made
  beforehand.
- Scanning the screen: a 1920x1080 screenshot in 32-bit pixels (as the X
  server hands it over) of a desktop with three windows, one showing the QR
  code of a Key URI at 4 pixels per module. The project finds the QR codes
  and reads their texts as URIs, as Import's Scan screen does once the screen
  is grabbed; the reference is ZXing-cpp's `ReadBarcodes` on the same pixels
  with the same options (QR codes only, try harder, try rotated). Beside it,
  the same picture saved as a PNG is scanned by whole processes: the
  project's scan (bench/scan_tool) and `zbarimg --raw`, interleaved.
- Idle: the real main window after login showing a TOTP token, against a bare
  one-second timer updating a QLCDNumber and a QProgressBar, run side by side;
  CPU time of each process over the idle period after a 3 s warm-up.
"""


class Bench:
    def __init__(self, args):
        self.build = os.path.abspath(args.build)
        self.programs = os.path.join(self.build, "bench")
        self.args = args
        self.rows = []
        self.scratch = os.path.join(self.build, "bench-run")
        self.logs = os.path.join(self.scratch, "logs")
        shutil.rmtree(self.scratch, ignore_errors=True)
        os.makedirs(self.logs)
        # Nothing the programs do may touch the real home: everything they
        # write lands in a scratch directory inside the build tree.
        home = tempfile.mkdtemp(prefix="home-", dir=self.scratch)
        os.chmod(home, 0o700)
        self.env = dict(os.environ, HOME=home, XDG_RUNTIME_DIR=home, TMPDIR=home,
                        QT_QPA_PLATFORM="offscreen")
        self.env.pop("DISPLAY", None)
        self.env.pop("WAYLAND_DISPLAY", None)

    def program(self, name):
        return os.path.join(self.programs, name)

    def say(self, text):
        print(text, file=sys.stderr, flush=True)

    def run_logged(self, name, command, env=None):
        with open(os.path.join(self.logs, name + ".log"), "w") as log:
            result = subprocess.run(command, stdout=log, stderr=subprocess.STDOUT,
                                    env=env or self.env)
        if result.returncode != 0:
            sys.exit(f"run-bench: {' '.join(command)} failed ({result.returncode}); "
                     f"see {log.name}")

    # In-process figures: each program writes its rows as JSON lines.
    def google_benchmarks(self):
        rows_file = os.path.join(self.scratch, "rows.json")
        extra = self.args.benchmark_args
        for name in ("bench_engine", "bench_storage", "bench_views", "bench_cli", "bench_scan"):
            self.say(f"measuring {name} ...")
            self.run_logged(name, [self.program(name), "--rows=" + rows_file] + extra)
        with open(rows_file) as rows:
            for line in rows:
                self.rows.append(json.loads(line))

    # Syncs per write: strace around COUNT writes minus the same run with none.
    def syncs(self, write):
        counts = []
        for count in (0, 10):
            trace = os.path.join(self.scratch, f"strace-{write}-{count}.txt")
            self.run_logged(f"syncs-{write}-{count}",
                            ["strace", "-f", "-c", "-e", "trace=fsync,fdatasync", "-o", trace,
                             self.program("bench_tool"), "syncs", write, str(count)])
            calls = 0
            with open(trace) as summary:
                for line in summary:
                    fields = line.split()
                    if len(fields) >= 5 and fields[-1] in ("fsync", "fdatasync"):
                        calls += int(fields[3])
            counts.append(calls)
        return (counts[1] - counts[0]) / 10

    def sync_figures(self):
        self.say("counting syncs ...")
        for title, project, reference in (
                ("One press: syncs, ReserveCounter vs the bare UPDATE", "press", "update"),
                ("Install: syncs, SaveToken of a new token vs one INSERT", "install", "insert")):
            self.rows.append({"figure": title, "unit": "syncs", "project": self.syncs(project),
                              "reference": self.syncs(reference), "goal": "same"})

    # One process from exec to its exit (wall s, peak RSS bytes, output).
    def one_run(self, command, env):
        start = time.monotonic()
        child = subprocess.Popen(command, env=env, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, text=True)
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.monotonic() - start
        child.returncode = os.waitstatus_to_exitcode(status)
        output, errors = child.stdout.read(), child.stderr.read()
        if child.returncode != 0:
            sys.exit(f"run-bench: {' '.join(command)} failed ({status}): {errors}")
        return wall, usage.ru_maxrss * 1024, output.split()[0]

    def cli_figures(self):
        """velmora-cli code for a TOTP token against a bare program linking the
        same libraries on the same database, with oathtool beside them."""
        runs = self.args.runs
        self.say(f"timing velmora-cli code, {runs} runs ...")
        home = tempfile.mkdtemp(prefix="cli-", dir=self.env["HOME"])
        data = os.path.join(home, ".velmora")
        os.mkdir(data, 0o700)
        self.run_logged("database-cli", [self.program("bench_tool"), "database", data, "1"])
        pin = os.path.join(home, "pin")
        with open(os.open(pin, os.O_WRONLY | os.O_CREAT, 0o600), "w") as out:
            out.write("24682468\n")
        passwd = os.path.join(home, "passwd")
        with open(passwd, "w") as out:
            out.write(f"user:x:{os.getuid()}:{os.getgid()}:user:{home}:/bin/sh\n")
        wrapper = sorted(glob.glob("/usr/lib/*/libnss_wrapper.so*"))
        if not wrapper:
            sys.exit("run-bench: libnss_wrapper not found")
        # All three under the same preload, so that it costs each the same.
        env = dict(self.env, LD_PRELOAD=wrapper[0], NSS_WRAPPER_PASSWD=passwd,
                   NSS_WRAPPER_GROUP="/etc/group", VELMORA_BENCH_DATA=data)
        key = bytes((31 + i * 7) & 0xFF for i in range(20))  # fixture token 1
        commands = {
            "project": [os.path.join(self.build, "cli", "velmora-cli"), "code", "1",
                        "--pin-file", pin],
            "reference": [self.program("cli_reference"), pin, "1"],
            "oathtool": ["oathtool", "--totp", "-b", base64.b32encode(key).decode()],
        }
        samples = {name: [] for name in commands}
        order = list(commands)
        for run in range(runs):
            codes = set()
            for name in order[run % 3:] + order[:run % 3]:
                wall, rss, code = self.one_run(commands[name], env)
                samples[name].append(wall)
                codes.add((code, int(time.time()) // 30))
            if len({code for code, _ in codes}) != 1 and len({step for _, step in codes}) == 1:
                sys.exit(f"run-bench: the three programs disagree on the code: {codes}")
        self.rows += [
            {"figure": "velmora-cli code, TOTP: whole process vs bare reference program",
             "unit": "s", "project": samples["project"], "reference": samples["reference"],
             "goal": 1.5},
            {"figure": "oathtool --totp: whole process vs the same bare reference",
             "unit": "s", "project": samples["oathtool"], "reference": samples["reference"],
             "goal": 0},
        ]

    def scan_figures(self):
        """The screenshot of bench_scan as a PNG, scanned by whole processes:
        the project's scan (scan_tool) and zbarimg, interleaved."""
        runs = self.args.runs
        self.say(f"timing scans of a screenshot PNG, {runs} runs ...")
        picture = os.path.join(self.scratch, "screenshot.png")
        self.run_logged("screenshot", [self.program("scan_tool"), "screenshot", picture])
        commands = {
            "project": [self.program("scan_tool"), "scan", picture],
            "zbarimg": ["zbarimg", "--quiet", "--raw", picture],
        }
        samples = {name: [] for name in commands}
        order = list(commands)
        for run in range(runs):
            found = set()
            for name in order[run % 2:] + order[:run % 2]:
                wall, _, text = self.one_run(commands[name], self.env)
                samples[name].append(wall)
                found.add(text)
            if len(found) != 1:
                sys.exit(f"run-bench: the scans disagree on the QR code: {found}")
        self.rows.append(
            {"figure": "Scan of a 1920x1080 screenshot PNG: whole process vs zbarimg",
             "unit": "s", "project": samples["project"], "reference": samples["zbarimg"],
             "goal": 0})

    # One process from exec to its exit at the first paint: (wall s, peak RSS bytes).
    def one_start(self, name, env):
        def expired(signum, frame):
            raise TimeoutError
        start = time.monotonic()
        log = os.path.join(self.logs, "startup.log")
        pid = os.posix_spawn(self.program(name), [name], env, file_actions=[
            (os.POSIX_SPAWN_OPEN, 1, log, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644),
            (os.POSIX_SPAWN_DUP2, 1, 2)])
        previous = signal.signal(signal.SIGALRM, expired)
        signal.alarm(60)
        try:
            _, status, usage = os.wait4(pid, 0)
        except TimeoutError:
            os.kill(pid, signal.SIGKILL)
            os.waitpid(pid, 0)
            sys.exit(f"run-bench: {name} never painted its window")
        finally:
            signal.alarm(0)
            signal.signal(signal.SIGALRM, previous)
        wall = time.monotonic() - start
        if os.waitstatus_to_exitcode(status) != 0:
            sys.exit(f"run-bench: {name} failed at start-up ({status}, "
                     f"DISPLAY={env.get('DISPLAY', 'none')}); see {log}")
        return wall, usage.ru_maxrss * 1024

    def startup_figures(self, platforms, data):
        runs = self.args.runs
        for label, env in platforms:
            self.say(f"timing start-up, {label}, {runs} runs ...")
            starts = {
                "project": ("startup_velmora", dict(env, VELMORA_BENCH_DATA=data["empty"])),
                "reference": ("startup_reference", dict(env, VELMORA_BENCH_DATA=data["empty"])),
                "many": ("startup_velmora", dict(env, VELMORA_BENCH_DATA=data["many"])),
                # Keyring mode beside file mode, both with the Secret Service's bus.
                "file": ("startup_velmora", dict(env, VELMORA_BENCH_DATA=data["many"],
                                                 DBUS_SESSION_BUS_ADDRESS=self.bus_address)),
                "keyring": ("startup_velmora", dict(env, VELMORA_BENCH_DATA=data["keyring"],
                                                    DBUS_SESSION_BUS_ADDRESS=self.bus_address)),
            }
            samples = {key: [] for key in starts}
            order = list(starts)
            for run in range(runs):
                # Rotated, so that no program always follows the same one.
                for key in order[run % len(order):] + order[:run % len(order)]:
                    samples[key].append(self.one_start(*starts[key]))
            wall = {key: [sample[0] for sample in v] for key, v in samples.items()}
            rss = {key: [sample[1] for sample in v] for key, v in samples.items()}
            self.rows += [
                {"figure": f"Start-up, {label}: exec to first paint vs bare Qt program",
                 "unit": "s", "project": wall["project"], "reference": wall["reference"],
                 "goal": 1.1},
                {"figure": f"Start-up, {label}: peak RSS vs bare Qt program", "unit": "bytes",
                 "project": rss["project"], "reference": rss["reference"], "goal": 1.1},
                {"figure": f"Start-up, {label}: 1,000 tokens vs none", "unit": "s",
                 "project": wall["many"], "reference": wall["project"], "goal": 1.2},
                {"figure": f"Start-up, {label}: 1,000 tokens, keyring mode vs file mode "
                           "(gnome-keyring on a private bus)", "unit": "s",
                 "project": wall["keyring"], "reference": wall["file"], "goal": 1.2},
            ]

    def idle_figures(self, platforms, data):
        seconds = self.args.idle_seconds
        self.say(f"measuring idle CPU over {seconds} s ...")
        children = []
        for label, env in platforms:
            env = dict(env, VELMORA_BENCH_DATA=data["one"],
                       VELMORA_BENCH_IDLE_SECONDS=str(seconds))
            for name in ("idle_velmora", "idle_reference"):
                children.append((label, name, subprocess.Popen(
                    [self.program(name)], env=env, stdout=subprocess.PIPE,
                    stderr=subprocess.DEVNULL, text=True)))
        share = {}
        for label, name, child in children:
            output, _ = child.communicate(timeout=seconds + 60)
            match = re.search(r"^idle (\S+) (\S+)$", output, re.M)
            if child.returncode != 0 or not match:
                sys.exit(f"run-bench: {name} ({label}) did not report its idle time")
            share[label, name] = float(match.group(1)) / float(match.group(2))
        for label, _ in platforms:
            self.rows.append({
                "figure": f"Idle, {label}: TOTP view vs bare one-second timer ({seconds} s)",
                "unit": "cpu share", "project": share[label, "idle_velmora"],
                "reference": share[label, "idle_reference"], "goal": 1.2})

    def whole_process_figures(self):
        # Every start runs beside the same unlocked Secret Service, so that
        # keyring mode pays its key's round trip and nothing else differs.
        bus = start_secret_service(self.env)
        self.bus_address = bus[1]
        data = {}
        for key, tokens in (("empty", 0), ("one", 1), ("many", 1000), ("keyring", 1000)):
            data[key] = tempfile.mkdtemp(prefix=key + "-", dir=self.env["HOME"])
            self.run_logged("database-" + key,
                            [self.program("bench_tool"),
                             "keyring" if key == "keyring" else "database", data[key],
                             str(tokens)],
                            env=dict(self.env, DBUS_SESSION_BUS_ADDRESS=self.bus_address))
        xvfb, display = start_xvfb(self.env)
        try:
            platforms = [("offscreen", self.env),
                         ("Xvfb", dict(self.env, DISPLAY=display, QT_QPA_PLATFORM="xcb"))]
            self.startup_figures(platforms, data)
            self.idle_figures(platforms, data)
        finally:
            xvfb.terminate()
            xvfb.wait()
            if bus[2]:
                os.kill(bus[2], signal.SIGTERM)
            bus[0].terminate()
            bus[0].wait()


def start_secret_service(env):
    """A session bus of the run's own with gnome-keyring's Secret Service,
    unlocked, its keyrings in the run's scratch home: (bus process, address)."""
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                           env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    address = bus.stdout.readline().strip()
    if not address:
        sys.exit("run-bench: dbus-daemon did not start")
    keyring = subprocess.run(["gnome-keyring-daemon", "--unlock", "--components=secrets"],
                             input="bench", env=dict(env, DBUS_SESSION_BUS_ADDRESS=address),
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, text=True)
    if keyring.returncode != 0:
        bus.terminate()
        sys.exit("run-bench: gnome-keyring-daemon did not start")
    # The daemon does not always leave with its bus: it is ended by its ID.
    # It takes the service name a moment after it forks.
    for _ in range(50):
        owner = subprocess.run(["dbus-send", "--session", "--print-reply",
                                "--dest=org.freedesktop.DBus", "/",
                                "org.freedesktop.DBus.GetConnectionUnixProcessID",
                                "string:org.freedesktop.secrets"],
                               env=dict(env, DBUS_SESSION_BUS_ADDRESS=address),
                               capture_output=True, text=True)
        match = re.search(r"uint32 (\d+)", owner.stdout)
        if match:
            return bus, address, int(match.group(1))
        time.sleep(0.1)
    bus.terminate()
    sys.exit("run-bench: gnome-keyring-daemon did not offer the Secret Service")


def start_xvfb(env):
    """One Xvfb for the whole run, on a free display far from the usual ones."""
    first = 200 + os.getpid() % 500
    for number in range(first, first + 50):
        read_end, write_end = os.pipe()
        server = subprocess.Popen(["Xvfb", f":{number}", "-displayfd", str(write_end),
                                   "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                  pass_fds=[write_end], env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        # The number comes once the server accepts clients; nothing if it gave up.
        with os.fdopen(read_end) as announced:
            if announced.readline().strip():
                return server, f":{number}"
        server.wait()
    sys.exit("run-bench: Xvfb did not start")


def format_value(value, unit):
    if unit == "bytes":
        return f"{value / 2**20:.1f} MiB"
    if unit == "syncs":
        return f"{value:g}"
    if unit == "cpu share":
        return f"{value * 100:.3f}% cpu"
    clock = " cpu" if unit == "s cpu" else " wall"
    for scale, name in ((1, "s"), (1e-3, "ms"), (1e-6, "µs")):
        if value >= scale:
            return f"{value / scale:.3g} {name}{clock}"
    return f"{value * 1e9:.3g} ns{clock}"


def median_and_spread(samples):
    """The median of the samples and half their interquartile range relative
    to it (None for fewer than four samples)."""
    median = statistics.median(samples)
    if len(samples) < 4 or not median:
        return median, None
    first, _, third = statistics.quantiles(samples, n=4)
    return median, (third - first) / 2 / median


def compare(row):
    """(project, reference, ratio, spread) of a row. Paired samples were taken
    side by side (sample i of each at the same moment): their ratio is the
    median of the ratios of the pairs, which cancels the machine's drifts.
    Start-up runs are interleaved but not paired: one run's jitter is larger
    than any drift between two runs."""
    project, reference = row["project"], row["reference"]
    if not isinstance(project, list):
        return project, reference, project / reference if reference else float("inf"), None
    project_median, project_spread = median_and_spread(project)
    reference_median, reference_spread = median_and_spread(reference)
    if row.get("paired"):
        ratio, spread = median_and_spread([p / r for p, r in zip(project, reference)])
    else:
        ratio = project_median / reference_median
        spreads = [s for s in (project_spread, reference_spread) if s is not None]
        spread = max(spreads) if spreads else None
    return project_median, reference_median, ratio, spread


def table(rows):
    lines = [("figure", "project", "reference", "ratio", "spread", "goal", "met")]
    for row in rows:
        project, reference, ratio, spread = compare(row)
        goal = row["goal"]
        if goal == "same":
            goal_text, verdict = "same", "met" if project == reference else "NOT met"
        elif not goal:
            goal_text, verdict = "-", "-"
        else:
            goal_text, verdict = f"<= {goal:g}x", "met" if ratio <= goal else "NOT met"
        lines.append((row["figure"], format_value(project, row["unit"]),
                      format_value(reference, row["unit"]), f"{ratio:.2f}x",
                      f"±{spread * 100:.0f}%" if spread is not None else "-", goal_text, verdict))
    return lines


def machine():
    model = "unknown CPU"
    with open("/proc/cpuinfo") as cpuinfo:
        for line in cpuinfo:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    load = os.getloadavg()[0]
    date = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    return (f"{model}, {os.cpu_count()} cores, Linux {platform.release()}, {date} "
            f"(load average {load:.1f} at the start)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build-bench")
    parser.add_argument("--results", help="Markdown file to write the table into")
    parser.add_argument("--runs", type=int, default=21, help="start-up runs per program (>= 10)")
    parser.add_argument("--idle-seconds", type=int, default=20)
    parser.add_argument("benchmark_args", nargs="*",
                        help="passed to the Google Benchmark programs (after --)")
    args = parser.parse_args()

    bench = Bench(args)
    where = (f"{machine()}; {args.runs} start-up runs per program, "
             f"{args.idle_seconds} s of idle")
    bench.google_benchmarks()
    bench.sync_figures()
    bench.cli_figures()
    bench.scan_figures()
    bench.whole_process_figures()

    lines = table(bench.rows)
    widths = [max(len(line[i]) for line in lines) for i in range(len(lines[0]))]
    print()
    print("Machine: " + where)
    for i, line in enumerate(lines):
        print("  ".join(cell.ljust(width) for cell, width in zip(line, widths)).rstrip())
        if i == 0:
            print("  ".join("-" * width for width in widths))
    missed = sum(1 for line in lines[1:] if line[-1] == "NOT met")
    print(f"\n{len(lines) - 1 - missed} figures within their goal or reported only, "
          f"{missed} NOT met.")

    if args.results:
        with open(args.results, "w") as out:
            out.write("# Benchmark results\n\n"
                      "Written by `make bench`. Every figure is the project measured beside "
                      "a reference in the same run; only the ratios mean anything.\n\n"
                      f"Machine: {where}.\n\n")
            out.write("| " + " | ".join(lines[0]) + " |\n")
            out.write("|" + "---|" * len(lines[0]) + "\n")
            for line in lines[1:]:
                out.write("| " + " | ".join(line) + " |\n")
            out.write("\n" + NOTES)


if __name__ == "__main__":
    main()
