#!/usr/bin/env python3
"""Translate an archive of BER record files or pcap captures into JSON Lines
with Dask, one process per core, on one host or many.

    tul_scale.py --defs snmpv1.defs --defs cmip.defs --translate EventReportArgument ARCHIVE OUT
    tul_scale.py ... --workers 4 ARCHIVE OUT                  # a LocalCluster of 4 processes
    tul_scale.py ... --scheduler tcp://host:8786 ARCHIVE OUT  # an existing cluster

Every file under ARCHIVE is one partition and gives OUT/<same path>.jsonl,
one line per record as `tul translate --json` (or `tul decode --json` with
--decode TYPE) prints it. Records that fail go to OUT/errors.jsonl with their
file, index (from 1) and the library's message; the run goes on.

The library is single-threaded, with process-wide options and unique
strings, so workers are processes with one thread each; each process loads
the dictionary once, on its first partition, and keeps it. A partition's
output is written to a temporary file and renamed into place, so a worker
that dies and whose partition Dask runs again leaves neither a half file nor
a duplicated record.
"""

from __future__ import annotations

import argparse
import dataclasses
import json
import os
import sys
import time
from pathlib import Path
from typing import Iterator, Optional, Tuple

import tul

sys.path.insert(0, str(Path(__file__).resolve().parent))
import pcap  # noqa: E402  (the reader beside this file)

# (index from 1, octets or None, problem or None, byte offset or None)
Record = Tuple[int, Optional[bytes], Optional[str], Optional[int]]
TRANSLATE_KINDS = ("EventReportArgument", "zrEventLogRecord", "zrCMISLogRecord", "Trap-PDU")
SNMP_PORTS = frozenset({161, 162})


@dataclasses.dataclass(frozen=True)
class Job:
    """What every partition is done with; sent to the workers."""

    definitions: Tuple[str, ...]
    translate: Optional[str] = None  # a translation kind, or
    decode: Optional[str] = None     # a type to decode as
    ports: frozenset = SNMP_PORTS    # UDP ports of captures; empty: any
    output: str = "."
    archive: str = "."


# One dictionary per worker process, loaded by its first partition.
_dictionaries: dict = {}


def dictionary(definitions: Tuple[str, ...]) -> tul.Dictionary:
    """The process's dictionary of these definitions, loaded once. The
    options are those of the tul program, so lines equal its output."""
    if definitions not in _dictionaries:
        tul.set_typed_any(True)
        tul.set_wide_integers(True)
        d = tul.Dictionary()
        for path in definitions:
            if path.endswith((".per", ".dtd")) or os.path.isdir(path):
                d.load_persistence(path)
            else:
                d.load_definitions(path)
        _dictionaries[definitions] = d
    return _dictionaries[definitions]


def ber_records(data: bytes) -> Iterator[Record]:
    """Records that follow one another; one whose length cannot be read
    ends the file, as the next one cannot be found."""
    offset, index = 0, 0
    while offset < len(data):
        index += 1
        try:
            length = tul.ber_length(data, offset)
        except tul.Error as error:
            yield index, None, error.message, offset
            return
        yield index, data[offset:offset + length], None, offset
        offset += length


def records_of(data: bytes, job: Job) -> Iterator[Record]:
    if pcap.is_capture(data[:4]):
        for number, payload, problem in pcap.udp_payloads(data, set(job.ports)):
            yield number, payload, problem, None
    else:
        yield from ber_records(data)


def snmp_trap(d: tul.Dictionary, octets: bytes) -> bytes:
    """The Trap-PDU of an SNMPv1 message (a datagram of a capture); other
    octets as they are."""
    if octets[:1] != b"\x30":
        return octets
    pdu = d.decode("Message", octets)["data"]
    if pdu is None:
        raise tul.Error(tul.ERR_DECODE, "an SNMP message without data")
    return pdu["trap"].encode()  # tul.Error when it holds no trap


def record_line(d: tul.Dictionary, job: Job, octets: bytes) -> str:
    if job.decode:
        return d.decode(job.decode, octets).to_json()
    if job.translate == "Trap-PDU":
        octets = snmp_trap(d, octets)
    return d.translate(job.translate, octets).to_json()


def write_atomically(path: Path, lines: list) -> None:
    """Replaces `path` with the lines in one rename, never in part (a
    process that dies leaves only its temporary file; no fsync, as the
    files are derived and the run can be repeated after a host crash)."""
    path.parent.mkdir(parents=True, exist_ok=True)
    temporary = path.with_name(f".{path.name}.{os.getpid()}.tmp")
    with open(temporary, "w", encoding="utf-8") as out:
        out.writelines(line + "\n" for line in lines)
    os.replace(temporary, path)


def translate_partition(source: str, job: Job) -> dict:
    """Translates one input file into its .jsonl file; returns the counts
    and the failed records."""
    d = dictionary(job.definitions)
    name = os.path.relpath(source, job.archive)
    lines, errors = [], []
    try:
        records = list(records_of(Path(source).read_bytes(), job))
    except (OSError, pcap.CaptureError) as error:
        records = [(0, None, str(error), None)]  # index 0: the file itself
    for index, octets, problem, offset in records:
        if problem is None:
            try:
                lines.append(record_line(d, job, octets))
                continue
            except tul.Error as error:
                problem = error.message
        failure = {"file": name, "index": index, "error": problem}
        if offset is not None:
            failure["offset"] = offset
        errors.append(failure)
    write_atomically(Path(job.output) / (name + ".jsonl"), lines)
    return {"file": name, "records": len(lines), "errors": errors, "process": (os.getpid(), id(d))}


def partitions(archive: str) -> list:
    """Every regular file under `archive`, in a stable order."""
    found = []
    for root, directories, files in os.walk(archive):
        directories.sort()
        found += [os.path.join(root, f) for f in sorted(files) if not f.startswith(".")]
    return found


def submit(client, job: Job, sources: list) -> list:
    """One future per partition, named after its file."""
    return client.map(translate_partition, sources, job=job, key=[f"tul-{s}" for s in sources])


def finish(job: Job, results: list) -> dict:
    """Writes errors.jsonl and returns the totals."""
    errors = [e for r in results for e in r["errors"]]
    write_atomically(Path(job.output) / "errors.jsonl", [json.dumps(e) for e in errors])
    for stale in Path(job.output).rglob(".*.tmp"):  # left by workers that died
        stale.unlink(missing_ok=True)
    return {"partitions": len(results), "records": sum(r["records"] for r in results), "errors": len(errors)}


def local_cluster(workers: int):
    """A LocalCluster of worker processes with one thread each."""
    from distributed import LocalCluster

    return LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None,
                        silence_logs=40)


def run(client, job: Job) -> dict:
    from distributed import wait

    futures = submit(client, job, partitions(job.archive))
    wait(futures)
    return finish(job, client.gather(futures))


def timed_run(client, job: Job) -> Tuple[dict, float]:
    """The totals and the seconds of the run, the cluster's start apart."""
    started = time.monotonic()
    totals = run(client, job)
    return totals, time.monotonic() - started


def parse_arguments(argv: Optional[list]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("archive", help="directory of BER record files and pcap/pcapng captures")
    parser.add_argument("output", help="directory for the .jsonl files and errors.jsonl")
    parser.add_argument("--defs", action="append", required=True, help="definitions or persistence file")
    mode = parser.add_mutually_exclusive_group(required=True)
    mode.add_argument("--translate", choices=TRANSLATE_KINDS, help="translate each record into attributes")
    mode.add_argument("--decode", metavar="TYPE", help="decode each record as TYPE")
    parser.add_argument("--port", type=int, action="append", help="UDP port of captures (default 161, 162)")
    parser.add_argument("--any-port", action="store_true", help="every UDP datagram of captures")
    parser.add_argument("--workers", type=int, default=os.cpu_count() or 1, help="local worker processes")
    parser.add_argument("--scheduler", help="address of an existing Dask scheduler instead")
    return parser.parse_args(argv)


def main(argv: Optional[list] = None) -> int:
    args = parse_arguments(argv)
    ports = frozenset() if args.any_port else frozenset(args.port or SNMP_PORTS)
    job = Job(tuple(os.path.abspath(p) for p in args.defs), args.translate, args.decode, ports,
              os.path.abspath(args.output), os.path.abspath(args.archive))
    from distributed import Client

    if args.scheduler:
        with Client(args.scheduler) as client:
            # Workers elsewhere need this program's modules; the binding and
            # libtul must be installed there, and paths shared.
            for module in (pcap.__file__, __file__):
                client.upload_file(module)
            totals, seconds = timed_run(client, job)
    else:
        with local_cluster(args.workers) as cluster, Client(cluster) as client:
            totals, seconds = timed_run(client, job)
    print(f"{totals['records']} records, {totals['errors']} errors, {totals['partitions']} partitions "
          f"in {seconds:.2f} s ({totals['records'] / seconds:.0f} records/s)")
    return 1 if totals["errors"] else 0


if __name__ == "__main__":
    # Run through the module's own name, so that workers find the partition
    # function (and its per-process dictionary) by import, not by value.
    import tul_scale

    sys.exit(tul_scale.main())
