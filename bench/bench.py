#!/usr/bin/env python3
"""Times velmora-update against the plain tools that do the same copies.

    python3 bench/bench.py [--runs N] [--work DIR] [--build-dir DIR]

Builds the native tool, generates its own data under a scratch folder on the
real disk (/var/tmp by default), and runs, interleaved and repeated:

  Large        50 modules, 49 of 4 MiB and one of 256 MiB; 25 replace
               installed DLLs of "elmdll" (so 25 backups are made, the big
               one among them), 25 are added with _AddModule.
  Many small   the same shape with modules of 16 KiB.
  Empty        a manifest with only a build-number line.

Against, on the same data and the same copies (backups included):

  cp + sync    cp of the files, then `sync -f` of the file system: the
               durable lower bound.
  loop cp      per file: cp to a temporary name, `sync FILE`, mv into place.
  loop dd      per file: dd conv=fsync to a temporary name, mv into place.
  true         /bin/true, for the fixed cost of a run (Empty only; these
               short runs are repeated ten times as often).

The installation is reset between runs (hard links to the pristine old
modules, so a reset writes no data; the registry file without its build
number, so that every Empty run stores one afresh) and the file system is
synced before every timed run, so no run pays for another's dirty pages. Every tool run is
checked afterwards: a run that did not do its copies would look fast.

Times are wall-clock from spawn to reap. Peak resident memory is taken in
the untimed warm-up round under /usr/bin/time (package "time"), which forks
from a small process: the getrusage of a child spawned straight from Python
would report Python's own size. Python standard library only.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MIB = 1024 * 1024
KIB = 1024

# What the data needs at once: update folder, pristine old modules, and the
# installation with its new modules, backups and a loop's temporary file.
NEEDED_FREE_BYTES = 3 * 1024 * MIB
FILL_BLOCK_BYTES = 1 * MIB
HEADER_BYTES = 64
MODULE_COUNT = 50
REPLACED_COUNT = 25
BUILD_NUMBER = "4.2.1"
SETTINGS_KEY = r"HKEY_USERS\.DEFAULT\Software\Corvane\Velmora"

# A run of Empty lasts milliseconds, where a moment's load elsewhere on the
# machine weighs; it is cheap enough to repeat more often.
EMPTY_RUNS_PER_ROUND = 10

TARGET_LARGE_VS_CP = 1.5
TARGET_EMPTY_MS = 5.0
TARGET_RSS_KIB = 8 * 1024
TIME_PROGRAM = "/usr/bin/time"


class Case:
    """One benchmark shape: its update folder, installation and copies."""

    def __init__(self, name, base, sizes):
        self.name = name
        self.base = base
        self.sizes = sizes  # one size per module; empty for "Empty"
        self.update = os.path.join(base, "update")
        self.install = os.path.join(base, "install")
        self.elmdll = os.path.join(self.install, "elmdll")
        self.backup = os.path.join(self.install, "Backup")
        self.pristine = os.path.join(base, "pristine")
        self.registry = os.path.join(base, "registry.reg")

    def module(self, index):
        kind = "m" if index < REPLACED_COUNT else "a"
        return "%s%02d.dll" % (kind, index)

    def replaced(self):
        return [self.module(i) for i in range(min(REPLACED_COUNT, len(self.sizes)))]

    def added(self):
        return [self.module(i) for i in range(REPLACED_COUNT, len(self.sizes))]

    def copies(self):
        """The tool's copies in its order: each entry's backup, then its install."""
        result = []
        for i in range(len(self.sizes)):
            name = self.module(i)
            if i < REPLACED_COUNT:
                result.append((os.path.join(self.elmdll, name),
                               os.path.join(self.backup, name)))
            result.append((os.path.join(self.update, name),
                           os.path.join(self.elmdll, name)))
        return result


def write_module(path, size, label, fill):
    header = ("%s" % label).encode().ljust(HEADER_BYTES, b".")
    with open(path, "wb") as out:
        out.write(header[:min(size, HEADER_BYTES)])
        left = size - min(size, HEADER_BYTES)
        while left > 0:
            chunk = fill[:min(left, len(fill))]
            out.write(chunk)
            left -= len(chunk)


def generate(case):
    for folder in (case.update, case.elmdll, case.pristine):
        os.makedirs(folder)
    fill = os.urandom(FILL_BLOCK_BYTES)
    lines = []
    for i, size in enumerate(case.sizes):
        name = case.module(i)
        write_module(os.path.join(case.update, name), size, "new " + name, fill)
        if i < REPLACED_COUNT:
            write_module(os.path.join(case.pristine, name), size, "old " + name,
                         fill)
            lines.append("%s elmdll\n" % name)
        else:
            lines.append("%s elmdll _AddModule\n" % name)
    if not case.sizes:
        lines.append("_BuildNumber %s\n" % BUILD_NUMBER)
    with open(os.path.join(case.update, "vlmfile.upd"), "w") as out:
        out.writelines(lines)
    write_registry(case)


def write_registry(case):
    with open(case.registry, "w", newline="") as out:
        out.write('REGEDIT4\r\n\r\n[%s]\r\n"Path"="%s"\r\n\r\n' %
                  (SETTINGS_KEY, case.install))


def remove_if_present(path):
    try:
        os.unlink(path)
    except FileNotFoundError:
        pass


def reset(case):
    """Puts the old installation back without writing data."""
    if os.path.isdir(case.backup):
        shutil.rmtree(case.backup)
    for name in os.listdir(case.elmdll):
        if name.startswith("."):  # a temporary file left by a loop
            os.unlink(os.path.join(case.elmdll, name))
    for name in case.replaced():
        target = os.path.join(case.elmdll, name)
        remove_if_present(target)
        os.link(os.path.join(case.pristine, name), target)
    for name in case.added():
        remove_if_present(os.path.join(case.elmdll, name))
    # The build number is written afresh on every run, never found in place.
    write_registry(case)
    os.sync()


def header_of(path):
    with open(path, "rb") as f:
        return f.read(HEADER_BYTES).rstrip(b".").decode()


def verify(case, who):
    """Fails loudly unless every copy of the run happened."""
    problems = []
    for i, size in enumerate(case.sizes):
        name = case.module(i)
        target = os.path.join(case.elmdll, name)
        if not os.path.exists(target) or os.path.getsize(target) != size or \
                header_of(target) != ("new " + name)[:size]:
            problems.append("%s not installed" % name)
        if i < REPLACED_COUNT:
            backup = os.path.join(case.backup, name)
            if not os.path.exists(backup) or header_of(backup) != ("old " + name)[:size]:
                problems.append("%s not backed up" % name)
    if not case.sizes:
        with open(case.registry, encoding="latin-1") as f:
            if '"Build Number"="%s"' % BUILD_NUMBER not in f.read():
                problems.append("build number not stored")
    if problems:
        sys.exit("bench: %s on %s did not do its work: %s" %
                 (who, case.name, ", ".join(problems[:5])))


def shell_words(items):
    return " ".join("'%s'" % item.replace("'", "'\\''") for item in items)


def cp_sync_script(case):
    replaced = [os.path.join(case.elmdll, n) for n in case.replaced()]
    new = [os.path.join(case.update, case.module(i)) for i in range(len(case.sizes))]
    # --remove-destination: the installed modules are links to the pristine
    # copies, which must not be overwritten in place.
    return "\n".join([
        "set -e",
        "mkdir -p %s" % shell_words([case.backup]),
        "cp -- %s %s" % (shell_words(replaced), shell_words([case.backup + "/"])),
        "cp --remove-destination -- %s %s" %
        (shell_words(new), shell_words([case.elmdll + "/"])),
        "sync -f %s" % shell_words([case.install]),
    ])


def loop_script(case, flush):
    lines = ["set -e", "mkdir -p %s" % shell_words([case.backup])]
    for source, target in case.copies():
        folder, name = os.path.split(target)
        temporary = os.path.join(folder, ".loop-" + name)
        if flush == "cp":
            lines.append("cp -- %s %s" % (shell_words([source]), shell_words([temporary])))
            lines.append("sync -- %s" % shell_words([temporary]))
        else:
            lines.append("dd if=%s of=%s bs=1M conv=fsync status=none" %
                         (shell_words([source]), shell_words([temporary])))
        lines.append("mv -f -- %s %s" % (shell_words([temporary]), shell_words([target])))
    return "\n".join(lines)


def run_timed(argv, cwd, env):
    """Spawns argv in cwd; returns (seconds, exit status)."""
    devnull = os.open(os.devnull, os.O_WRONLY)
    previous = os.getcwd()
    os.chdir(cwd)
    try:
        start = time.perf_counter()
        pid = os.posix_spawn(argv[0], argv, env, file_actions=[
            (os.POSIX_SPAWN_DUP2, devnull, 1), (os.POSIX_SPAWN_DUP2, devnull, 2)])
        _, status = os.waitpid(pid, 0)
        elapsed = time.perf_counter() - start
    finally:
        os.chdir(previous)
        os.close(devnull)
    return elapsed, os.waitstatus_to_exitcode(status)


def run_measured(argv, cwd, env, scratch):
    """Runs argv under /usr/bin/time; returns (peak RSS in KiB, exit status)."""
    report = os.path.join(scratch, "time.out")
    _, code = run_timed([TIME_PROGRAM, "-f", "%M", "-o", report] + argv, cwd, env)
    with open(report) as f:
        lines = f.read().split()
    return int(lines[-1]), code


def build_tool(build_dir):
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir,
                    "-DCMAKE_BUILD_TYPE=Release", "-DVELMORA_BUILD_TESTS=OFF"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "--target", "velmora-update",
                    "-j%d" % (os.cpu_count() or 1)],
                   check=True, stdout=subprocess.DEVNULL)
    return os.path.join(build_dir, "velmora-update")


def fmt_ms(seconds):
    return "%8.1f" % (seconds * 1000)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--runs", type=int, default=5,
                        help="timed runs per contender and case (default 5)")
    parser.add_argument("--work", default="/var/tmp",
                        help="folder on the real disk for the data (default /var/tmp)")
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build", "bench"),
                        help="build folder of the tool (default build/bench)")
    parser.add_argument("--tool", help="time this velmora-update instead of building one")
    args = parser.parse_args()
    if args.runs < 1:
        sys.exit("bench: --runs must be at least 1")

    for program in ("cmake", "cp", "dd", "sync", "mv", "bash", "stat", TIME_PROGRAM):
        if shutil.which(program) is None:
            sys.exit("bench: %s is missing; scripts/install-deps installs it" % program)
    free = shutil.disk_usage(args.work).free
    if free < NEEDED_FREE_BYTES:
        sys.exit("bench: %s has %d MiB free, %d MiB needed" %
                 (args.work, free // MIB, NEEDED_FREE_BYTES // MIB))
    fs_type = subprocess.run(["stat", "-f", "-c", "%T", args.work],
                             capture_output=True, text=True).stdout.strip()
    if fs_type in ("tmpfs", "ramfs"):
        sys.exit("bench: %s is %s; give --work a folder on a real disk" % (args.work, fs_type))
    tool = os.path.abspath(args.tool) if args.tool else build_tool(os.path.abspath(args.build_dir))

    scratch = tempfile.mkdtemp(prefix="velmora-bench.", dir=args.work)
    try:
        cases = [
            Case("Large", os.path.join(scratch, "large"),
                 [256 * MIB] + [4 * MIB] * (MODULE_COUNT - 1)),
            Case("Many small", os.path.join(scratch, "small"), [16 * KIB] * MODULE_COUNT),
            Case("Empty", os.path.join(scratch, "empty"), []),
        ]
        print("velmora-update benchmark: %s\n  data on %s (%s, %d MiB free), %d cores, "
              "%d timed runs each (Empty: %d)" % (tool, args.work, fs_type, free // MIB,
                                                  os.cpu_count() or 1, args.runs,
                                                  args.runs * EMPTY_RUNS_PER_ROUND))
        for case in cases:
            generate(case)
        load_before = os.getloadavg()[0]
        bash = shutil.which("bash")
        true = shutil.which("true") or "/bin/true"
        contenders = {}
        for case in cases:
            if case.sizes:
                contenders[case.name] = [
                    ("velmora-update", [tool]),
                    ("cp + sync", [bash, "-c", cp_sync_script(case)]),
                    ("loop cp", [bash, "-c", loop_script(case, "cp")]),
                    ("loop dd", [bash, "-c", loop_script(case, "dd")]),
                ]
            else:
                contenders[case.name] = [("velmora-update", [tool]), ("true", [true])]

        times = {(c.name, who): [] for c in cases for who, _ in contenders[c.name]}
        peaks = {}
        started = time.perf_counter()
        # Round 0 warms the caches and takes the peak memory under
        # /usr/bin/time, untimed; the timed rounds follow. The order of the
        # contenders rotates from round to round.
        for round_index in range(args.runs + 1):
            for case in cases:
                entries = contenders[case.name]
                shift = round_index % len(entries)
                order = entries[shift:] + entries[:shift]
                if not case.sizes and round_index > 0:
                    order = order * EMPTY_RUNS_PER_ROUND
                for who, argv in order:
                    reset(case)
                    env = dict(os.environ, VELMORA_REGISTRY=case.registry)
                    if round_index == 0:
                        peak, code = run_measured(argv, case.update, env, scratch)
                        peaks[(case.name, who)] = peak
                    else:
                        elapsed, code = run_timed(argv, case.update, env)
                        times[(case.name, who)].append(elapsed)
                    if code != 0:
                        sys.exit("bench: %s on %s exited with %d" % (who, case.name, code))
                    if who != "true":
                        verify(case, who)
        total = time.perf_counter() - started
        load_after = os.getloadavg()[0]

        print("\n%-11s %-15s %9s %9s %9s %10s" %
              ("case", "contender", "median", "min", "max", "peak RSS"))
        medians = {}
        for case in cases:
            for who, _ in contenders[case.name]:
                runs = times[(case.name, who)]
                medians[(case.name, who)] = statistics.median(runs)
                print("%-11s %-15s %6.1f ms %6.1f ms %6.1f ms %6.1f MiB" %
                      (case.name, who, statistics.median(runs) * 1000, min(runs) * 1000,
                       max(runs) * 1000, peaks[(case.name, who)] / 1024))
        print("\nvelmora-update's median time as a ratio to each baseline:")
        for name in ("Large", "Many small"):
            mine = medians[(name, "velmora-update")]
            print("  %-11s %s" % (name, ", ".join(
                "%.2f x %s" % (mine / medians[(name, who)], who)
                for who in ("cp + sync", "loop cp", "loop dd"))))
        mine = medians[("Empty", "velmora-update")]
        print("  %-11s %.2f x true (%+.1f ms)" % (
            "Empty", mine / medians[("Empty", "true")],
            (mine - medians[("Empty", "true")]) * 1000))

        print("\nTargets:")
        verdicts = []

        def judge(label, ok, detail):
            verdicts.append(ok)
            print("  %-4s %-48s %s" % ("ok" if ok else "MISS", label, detail))

        for name in ("Large", "Many small"):
            mine = medians[(name, "velmora-update")]
            cp = medians[(name, "cp + sync")]
            loop = min(medians[(name, "loop cp")], medians[(name, "loop dd")])
            if name == "Large":
                judge("Large: at most %.1f x cp + sync" % TARGET_LARGE_VS_CP,
                      mine <= TARGET_LARGE_VS_CP * cp, "%.2f x" % (mine / cp))
            judge("%s: no slower than the faster loop" % name, mine <= loop,
                  "%.2f x" % (mine / loop))
        extra = medians[("Empty", "velmora-update")] - medians[("Empty", "true")]
        judge("Empty: within %.0f ms of /bin/true" % TARGET_EMPTY_MS,
              extra <= TARGET_EMPTY_MS / 1000, "%+.1f ms" % (extra * 1000))
        for case in cases:
            peak = peaks[(case.name, "velmora-update")]
            judge("%s: peak resident memory under %d MiB" % (case.name, TARGET_RSS_KIB // 1024),
                  peak < TARGET_RSS_KIB, "%.1f MiB" % (peak / 1024))
        print("\n%d of %d targets met; %.0f s of runs; load average %.1f before, %.1f after"
              % (sum(verdicts), len(verdicts), total, load_before, load_after))
        if max(load_before, load_after) > (os.cpu_count() or 1):
            print("note: the machine was busy with other work; the times are noisy")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
