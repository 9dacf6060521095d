#!/usr/bin/env python3
"""Speed of the Python binding and of the Dask program of examples/scale.

    TUL_LIBRARY=build/release/libtul.so PYTHONPATH=python \\
        /usr/bin/python3 bench/python_bench.py build/release/tul [RECORDS]

Prints the per-record cost of decoding a trap and of translating an event
report into a JSON line, through the binding and through the C library (the
tul program on a file of many records, its start-up subtracted), then
records per second of the Dask program with 1 and 2 worker processes (the
cluster's start apart), and the load average while it ran.
"""

import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import tul

ROOT = Path(__file__).resolve().parents[1]
EXAMPLES = ROOT / "examples"
sys.path.insert(0, str(ROOT / "examples" / "scale"))
import tul_scale  # noqa: E402

DEFINITIONS = [str(EXAMPLES / n) for n in ("snmpv1.defs", "cmip.defs", "cmisfilter.defs")]
DEFS_ARGS = [a for d in DEFINITIONS for a in ("--defs", d)]


def first_record(path):
    data = path.read_bytes()
    return data[:tul.ber_length(data)]


def binding_cost(function, count):
    """Microseconds per call."""
    started = time.perf_counter()
    for _ in range(count):
        function()
    return (time.perf_counter() - started) / count * 1e6


def program_cost(cli, arguments, record, count, work):
    """Microseconds per record of the tul program, its start-up subtracted."""
    def seconds(n):
        path = Path(work) / f"records-{n}"
        path.write_bytes(record * n)
        started = time.perf_counter()
        subprocess.run([cli, *DEFS_ARGS, *arguments, str(path)], stdout=subprocess.DEVNULL, check=True)
        return time.perf_counter() - started

    return (seconds(count) - seconds(1)) / (count - 1) * 1e6


def dask_rate(workers, job):
    from distributed import Client

    with tul_scale.local_cluster(workers) as cluster, Client(cluster) as client:
        totals, elapsed = tul_scale.timed_run(client, job)
    return totals["records"] / elapsed, os.getloadavg()[0]


def main():
    cli = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 40_000
    trap = (EXAMPLES / "trap.ber").read_bytes()
    report = first_record(EXAMPLES / "events.ber")
    tul.set_typed_any(True)
    tul.set_wide_integers(True)
    with tul.Dictionary() as d, tempfile.TemporaryDirectory() as work:
        for path in DEFINITIONS:
            d.load_definitions(path)
        n = 20_000
        rows = [
            ("decode --json Message (trap.ber)", binding_cost(lambda: d.decode("Message", trap).to_json(), n),
             program_cost(cli, ["decode", "--json", "Message"], trap, n, work)),
            ("translate --json EventReportArgument",
             binding_cost(lambda: d.translate("EventReportArgument", report).to_json(), n),
             program_cost(cli, ["translate", "--json", "EventReportArgument"], report, n, work)),
        ]
        print(f"{'per record':40} {'binding us':>11} {'C (tul) us':>11}")
        for name, binding, program in rows:
            print(f"{name:40} {binding:11.2f} {program:11.2f}")
        archive = Path(work) / "archive"
        archive.mkdir()
        per_file = count // 40
        for i in range(40):
            (archive / f"part-{i:02}.ber").write_bytes(report * per_file)
        for workers in (1, 2):
            job = tul_scale.Job(tuple(DEFINITIONS), translate="EventReportArgument",
                                output=str(Path(work) / f"out{workers}"), archive=str(archive))
            rate, load = dask_rate(workers, job)
            print(f"Dask, {workers} worker process(es): {rate:8.0f} records/s ({per_file * 40} records; "
                  f"load average {load:.2f})")


if __name__ == "__main__":
    main()
