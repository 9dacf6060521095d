"""The Dask program of examples/scale against the tul program's own output.

Needs TUL_CLI (the tul program of the same build) besides the binding's
TUL_LIBRARY, and Debian's python3-distributed.
"""

import importlib.util
import json
import os
import random
import re
import signal
import struct
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

import tul

ROOT = Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"
SCALE = ROOT / "examples" / "scale"
sys.path.insert(0, str(SCALE))
import pcap  # noqa: E402
import tul_scale  # noqa: E402

DEFINITIONS = [str(EXAMPLES / name) for name in ("snmpv1.defs", "cmip.defs", "cmisfilter.defs")]
KIND = "EventReportArgument"
NOT_A_REPORT = b"\x30\x03\x02\x01\x05"  # frames, but does not translate


def event_reports():
    data, found, offset = (EXAMPLES / "events.ber").read_bytes(), [], 0
    while offset < len(data):
        length = tul.ber_length(data, offset)
        found.append(data[offset:offset + length])
        offset += length
    return found


def udp_frame(payload, version, port=162, protocol=17):
    udp = struct.pack(">HHHH", 40000, port, 8 + len(payload), 0) + payload
    if version == 4:
        ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, protocol, 0, bytes(4), bytes(4))
        return bytes(12) + b"\x08\x00" + ip + udp
    ip = struct.pack(">IHBB16s16s", 6 << 28, len(udp), protocol, 64, bytes(16), bytes(16))
    return bytes(12) + b"\x86\xdd" + ip + udp


def classic_pcap(frames):
    out = struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1)
    for frame in frames:
        out += struct.pack("<IIII", 0, 0, len(frame), len(frame)) + frame
    return out


def pcapng(frames):
    def block(kind, body):
        body += bytes(-len(body) % 4)
        return struct.pack("<II", kind, len(body) + 12) + body + struct.pack("<I", len(body) + 12)

    out = block(0x0A0D0D0A, struct.pack("<IHHq", 0x1A2B3C4D, 1, 0, -1)) + block(1, struct.pack("<HHI", 1, 0, 0))
    for frame in frames:
        out += block(6, struct.pack("<IIIII", 0, 0, 0, len(frame), len(frame)) + frame)
    return out


def build_archive(root, files, per_file):
    """BER record files (a few records that do not translate, the last file
    cut short) and two captures; returns the payloads of the captures."""
    reports = event_reports()
    for i in range(files):
        chosen = [reports[(i + j) % len(reports)] for j in range(per_file)]
        if i % 3 == 1:
            chosen[per_file // 2] = NOT_A_REPORT
        data = b"".join(chosen) + (reports[0][:-3] if i == files - 1 else b"")
        (root / f"part-{i:03}.ber").write_bytes(data)
    payloads = reports * 3
    frames = [udp_frame(p, 4 if i % 2 else 6) for i, p in enumerate(payloads)]
    frames.insert(2, udp_frame(reports[0], 4, protocol=6))  # TCP: skipped
    frames.insert(4, udp_frame(reports[1], 4, port=53))  # another port: skipped
    (root / "captures").mkdir()
    (root / "captures" / "a.pcap").write_bytes(classic_pcap(frames))
    (root / "captures" / "b.pcapng").write_bytes(pcapng(frames))
    return b"".join(payloads)


def tul_translate(path):
    """(JSON lines, failed record numbers) as the tul program gives them."""
    defs = [arg for d in DEFINITIONS for arg in ("--defs", d)]
    run = subprocess.run([os.environ["TUL_CLI"], *defs, "translate", "--json", KIND, str(path)],
                         capture_output=True, text=True)
    return run.stdout.splitlines(), {int(n) for n in re.findall(r": record (\d+) at offset", run.stderr)}


class CaptureReaderTest(unittest.TestCase):
    def test_damaged_captures_give_problems_not_exceptions(self):
        generator = random.Random(21)
        frames = [udp_frame(r, 4 + 2 * (i % 2)) for i, r in enumerate(event_reports())]
        for capture in (classic_pcap(frames), pcapng(frames)):
            cut = list(pcap.udp_payloads(capture[:-5]))
            self.assertEqual(cut[-1][1:], (None, "packet cut short" if capture[:1] == b"\xd4" else
                                           "block cut short or damaged"))
            for _ in range(400):
                damaged = bytearray(capture[:generator.randrange(len(capture) + 1)])
                for _ in range(generator.randrange(1, 6)):
                    if damaged:
                        damaged[generator.randrange(len(damaged))] = generator.randrange(256)
                try:
                    for number, payload, problem in pcap.udp_payloads(bytes(damaged), None):
                        self.assertTrue((payload is None) != (problem is None))
                except pcap.CaptureError:
                    pass


@unittest.skipUnless(importlib.util.find_spec("distributed"), "needs Debian's python3-distributed")
class ScaleTest(unittest.TestCase):
    """One LocalCluster of 2 worker processes for both tests: starting one
    costs more than the runs."""

    @classmethod
    def setUpClass(cls):
        from distributed import Client

        cls.cluster = tul_scale.local_cluster(2)
        cls.client = Client(cls.cluster)

    @classmethod
    def tearDownClass(cls):
        cls.client.close()
        cls.cluster.close()

    def check_output(self, archive, output, payloads):
        """Every partition's lines equal the tul program's; every failed
        record is in errors.jsonl once."""
        errors = [json.loads(line) for line in (output / "errors.jsonl").read_text().splitlines()]
        failed = {(e["file"], e["index"]) for e in errors}
        self.assertEqual(len(failed), len(errors))
        for source in tul_scale.partitions(str(archive)):
            name = os.path.relpath(source, archive)
            lines = (output / (name + ".jsonl")).read_text().splitlines()
            if name.startswith("captures"):
                reference = archive.parent / "payloads.ber"
                reference.write_bytes(payloads)
                expected, bad = tul_translate(reference)[0], set()
            else:
                expected, bad = tul_translate(source)
            self.assertEqual(lines, expected, name)
            self.assertEqual({i for f, i in failed if f == name}, bad, name)
        self.assertEqual(list(output.rglob(".*.tmp")), [])
        return errors

    def test_a_program_run_on_two_worker_processes(self):
        with tempfile.TemporaryDirectory() as work:
            archive, output = Path(work) / "archive", Path(work) / "out"
            archive.mkdir()
            payloads = build_archive(archive, files=10, per_file=300)
            defs = [arg for d in DEFINITIONS for arg in ("--defs", d)]
            run = subprocess.run([sys.executable, str(SCALE / "tul_scale.py"), *defs, "--translate", KIND,
                                  "--scheduler", self.cluster.scheduler_address, str(archive), str(output)],
                                 capture_output=True, text=True)
            self.assertEqual(run.returncode, 1, run.stderr)  # some records fail
            self.assertRegex(run.stdout, r"^3015 records, 4 errors, 12 partitions")
            errors = self.check_output(archive, output, payloads)
            self.assertIn({"file": "part-001.ber", "index": 151, "offset": errors[0]["offset"],
                           "error": errors[0]["error"]}, errors)
            self.assertIn("does not translate as EventReportArgument", errors[0]["error"])

    def test_killed_worker_loses_and_duplicates_nothing(self):
        from distributed import as_completed

        with tempfile.TemporaryDirectory() as work:
            archive, output = Path(work) / "archive", Path(work) / "out"
            archive.mkdir()
            payloads = build_archive(archive, files=16, per_file=750)
            job = tul_scale.Job(tuple(DEFINITIONS), translate=KIND, output=str(output), archive=str(archive))
            client = self.client
            futures = tul_scale.submit(client, job, tul_scale.partitions(str(archive)))
            next(as_completed(futures))
            self.assertTrue(any(not f.done() for f in futures))
            busy = [address for address, keys in client.processing().items() if keys]
            victim = client.run(os.getpid, workers=busy[:1] or None)
            os.kill(next(iter(victim.values())), signal.SIGKILL)
            results = client.gather(futures)
            tul_scale.finish(job, results)
            self.check_output(archive, output, payloads)
            processes = {r["process"] for r in results}  # (pid, dictionary): one dictionary per process
            self.assertEqual(len(processes), len({pid for pid, _ in processes}))


if __name__ == "__main__":
    unittest.main()
