"""The Python side of bench/python.sh: each library's way of doing one task, and the runner that
times them side by side (round after round, each run a process of its own, medians of wall
time, CPU time and peak memory from wait4).

    python_bench.py compare WORK        the whole table, on the archives bench/python.sh made in WORK
    python_bench.py run TASK LIBRARY ARGS...   one run (what compare starts)
"""

from __future__ import annotations

import os
import shutil
import statistics
import subprocess
import sys
import time


def extract(library: str, archive: str, out: str) -> None:
    if library == "zorvik":
        import zorvik

        with zorvik.open(archive) as opened:
            opened.extractall(out)
    elif library == "py7zr":
        import py7zr

        with py7zr.SevenZipFile(archive) as opened:
            opened.extractall(out)
    elif library == "libarchive-c":
        import libarchive

        cwd = os.getcwd()
        os.chdir(out)
        try:
            libarchive.extract_file(archive)
        finally:
            os.chdir(cwd)
    elif library == "zipfile":
        import zipfile

        with zipfile.ZipFile(archive) as opened:
            opened.extractall(out)
    elif library == "tarfile":
        import tarfile

        with tarfile.open(archive) as opened:
            opened.extractall(out)
    else:
        raise SystemExit(f"no extract for {library}")


def listing(library: str, archive: str) -> None:
    if library == "zorvik":
        import zorvik

        with zorvik.open(archive) as opened:
            rows = [(entry.path, entry.size) for entry in opened]
    else:
        import zipfile

        with zipfile.ZipFile(archive) as opened:
            rows = [(info.filename, info.file_size) for info in opened.infolist()]
    assert len(rows) >= 100_000


def create(library: str, source: str, target: str) -> None:
    if library == "zorvik":
        import zorvik

        with zorvik.open(target, "w", format="zip", method="deflate", level=6) as archive:
            archive.add(source, "")
    else:
        import zipfile

        with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as archive:
            for folder, _, files in os.walk(source):
                for name in sorted(files):
                    path = os.path.join(folder, name)
                    if os.path.isfile(path) and not os.path.islink(path):
                        archive.write(path, os.path.relpath(path, source))


def read_one(library: str, archive: str, name: str) -> None:
    """Prints the median seconds of read() of name, after one open, over 20 reads."""
    times = []
    if library == "zorvik":
        import zorvik

        opened = zorvik.open(archive)
        read = opened.read
    else:
        import zipfile

        opened = zipfile.ZipFile(archive)
        read = opened.read
    for _ in range(20):
        start = time.perf_counter()
        data = read(name)
        times.append(time.perf_counter() - start)
        assert len(data) == 1 << 20
    print(statistics.median(times))


def run(task: str, library: str, args: list[str]) -> None:
    if task == "extract":
        extract(library, *args)
    elif task == "list":
        listing(library, *args)
    elif task == "create":
        create(library, *args)
    elif task == "read":
        read_one(library, *args)


def timed(command: list[str], inner: bool) -> tuple[float, float, float]:
    """Seconds (the run's own figure when inner), CPU seconds and peak MiB of one run."""
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.PIPE)
    assert process.stdout is not None
    output = process.stdout.read()
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        raise SystemExit(f"failed: {' '.join(command)}")
    if inner:
        seconds = float(output.decode().strip().splitlines()[-1])
    return seconds, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024


def compare(work: str) -> None:
    me = os.path.abspath(__file__)
    out = os.path.join(os.environ.get("ZORVIK_BENCH_OUT") or work, "py-out")
    runs = int(os.environ.get("ZORVIK_BENCH_RUNS", "3"))
    rows = [
        # (work, goal, [(library, task, args)], inner timing)
        ("extract 7z LZMA2", [("py7zr", 5.0), ("libarchive-c", 1.5)], "extract", ["mixed.7z", out], False),
        ("extract zip deflate", [("zipfile", 1.2)], "extract", ["mixed.zip", out], False),
        ("extract tar.gz", [("tarfile", 1.0)], "extract", ["mixed.tar.gz", out], False),
        ("list 100,000-entry zip", [("zipfile", 1.0)], "list", ["many.zip"], False),
        ("create zip deflate 6", [("zipfile", 1.5)], "create", ["source", os.path.join(out, "new.zip")], False),
        ("read() 1 MiB of 100,000", [("zipfile", 0.8)], "read", ["many.zip", "entry:big/one-mib.bin"], True),
    ]
    only = os.environ.get("ZORVIK_BENCH_ONLY")  # words of the rows to run: "tar.gz,list,create,read"
    if only:
        words = only.split(",")
        rows = [row for row in rows if any(word in row[0] or word == row[2] for word in words)]
    print(f"{os.cpu_count()} cores, load {' '.join(open('/proc/loadavg').read().split()[:3])}; {runs} timed rounds, medians")
    print(f"{'work':<26}{'library':<14}{'median':>10}{'cpu':>9}{'peak':>11}{'speed':>8}{'goal':>7}")
    for label, peers, task, args, inner in rows:
        libraries = ["zorvik"] + [peer for peer, _ in peers]
        paths = [a[6:] if a.startswith("entry:") else a if os.path.isabs(a) else os.path.join(work, a) for a in args]
        figures: dict[str, list[tuple[float, float, float]]] = {library: [] for library in libraries}
        for round_number in range(runs + 1):  # the first round warms the caches, untimed
            for library in libraries:
                shutil.rmtree(out, ignore_errors=True)
                os.makedirs(out)
                figure = timed([sys.executable, me, "run", task, library, *paths], inner)
                if round_number > 0:
                    figures[library].append(figure)
        medians = {library: [statistics.median(f[i] for f in figures[library]) for i in range(3)] for library in libraries}
        ours = medians["zorvik"]
        print(f"{label:<26}{'zorvik':<14}{ours[0]:>9.3f}s{ours[1]:>8.2f}s{ours[2]:>7.0f} MiB")
        for peer, goal in peers:
            theirs = medians[peer]
            speed = theirs[0] / ours[0] if ours[0] > 0 else float("inf")
            print(f"{'':<26}{peer:<14}{theirs[0]:>9.3f}s{theirs[1]:>8.2f}s{theirs[2]:>7.0f} MiB{speed:>8.2f}{goal:>7.1f}")
        sys.stdout.flush()
    shutil.rmtree(out, ignore_errors=True)


if __name__ == "__main__":
    if sys.argv[1] == "compare":
        compare(sys.argv[2])
    else:
        run(sys.argv[2], sys.argv[3], sys.argv[4:])
