"""The Python binding: API, error paths, hostile arguments, memory.

Run with the library of a release build: TUL_LIBRARY=.../libtul.so
PYTHONPATH=python /usr/bin/python3 -m unittest discover tests/python
"""

import gc
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile
from pathlib import Path

import tul

ROOT = Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"
DEFINITIONS = [EXAMPLES / name for name in ("snmpv1.defs", "cmip.defs", "cmisfilter.defs")]

# (file, type of its records) of the bundled sample encodings.
SAMPLES = [("trap.ber", "Message"), ("get.ber", "Message"), ("events.ber", "EventReportArgument"),
           ("traps.ber", "Trap-PDU")]


def records(data):
    offset = 0
    while offset < len(data):
        length = tul.ber_length(data, offset)
        yield data[offset:offset + length]
        offset += length


def as_json(python):
    """to_python's result in the JSON form's terms (octets as text or hex)."""
    if isinstance(python, bytes):
        printable = all(0x20 <= c <= 0x7E for c in python)
        return python.decode("ascii") if printable else {"hex": python.hex().upper()}
    if isinstance(python, dict):
        return {k: as_json(v) for k, v in python.items()}
    if isinstance(python, list):
        return [as_json(v) for v in python]
    return python


def without_tags(line):
    """The JSON form with the tags of whole encodings left out, which
    to_python's bytes do not repeat."""
    if isinstance(line, dict):
        return {k: without_tags(v) for k, v in line.items() if not (k == "tag" and "hex" in line)}
    if isinstance(line, list):
        return [without_tags(v) for v in line]
    return line


def resident_kib():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


class BindingTest(unittest.TestCase):
    def setUp(self):
        self.d = tul.Dictionary()
        for path in DEFINITIONS:
            self.assertEqual(self.d.load_definitions(path), [])

    def tearDown(self):
        self.d.close()

    def test_bundled_examples_round_trip(self):
        for name, type_name in SAMPLES:
            for octets in records((EXAMPLES / name).read_bytes()):
                with self.subTest(name=name):
                    value = self.d.decode(type_name, octets)
                    self.assertEqual(value.type, type_name)
                    self.assertEqual(value.encode(), octets)
                    self.assertEqual(self.d.parse(str(value)), value)
                    line = json.loads(value.to_json())
                    self.assertEqual(line["type"], type_name)
                    self.assertEqual(as_json(value.to_python()), without_tags(line["value"]))

    def test_python_form_of_a_trap(self):
        message = self.d.decode("Message", (EXAMPLES / "trap.ber").read_bytes())
        python = message.to_python()
        trap = python["data"]["trap"]
        self.assertEqual(python["community"], b"public")
        self.assertEqual(trap["enterprise"], "1.3.6.1.4.1.32473.1")
        self.assertEqual(trap["agent-addr"], {"internet": bytes([192, 0, 2, 10])})
        self.assertEqual(trap["variable-bindings"][1]["value"], {"simple": {"string": b"eth1"}})
        # Lent values keep their container alive.
        bindings = message["data"]["trap"]["variable-bindings"]
        del message
        gc.collect()
        self.assertEqual(len(bindings), 8)
        self.assertEqual(bindings[-1]["name"].to_python(), "1.3.6.1.2.1.1.2.0")

    def test_translate(self):
        trap = next(records((EXAMPLES / "traps.ber").read_bytes()))
        attributes = self.d.translate("Trap-PDU", trap)
        self.assertEqual(attributes.type, "AttributeList")
        self.assertIsInstance(attributes.to_python(), list)

    def test_types_and_describe(self):
        self.assertIn("Trap-PDU", self.d.types())
        self.assertNotIn("TUL.Asn1", self.d.types())
        self.assertIn("TUL.Asn1", self.d.types(all=True))
        self.assertEqual(self.d.describe("Trap-PDU").to_python()["name"], "Trap-PDU")
        self.assertIsNone(self.d.describe("INTEGER"))

    def test_library_errors(self):
        cases = [
            (tul.ERR_DECODE, lambda: self.d.decode("Message", b"\x30\x05\x02")),
            (tul.ERR_NO_TYPE, lambda: self.d.decode("NoSuchType", b"\x02\x01\x05")),
            (tul.ERR_NO_TYPE, lambda: self.d.describe("NoSuchType")),
            (tul.ERR_PARSE, lambda: self.d.parse("INTEGER {")),
            (tul.ERR_ARGUMENT, lambda: self.d.translate("Other", b"\x30\x00")),
            (tul.ERR_DECODE, lambda: self.d.translate("Trap-PDU", b"\x30\x03\x02\x01\x05")),
            (tul.ERR_OPEN, lambda: self.d.load_definitions("/no/such/file.defs")),
            (tul.ERR_DECODE, lambda: tul.ber_length(b"\x30\x05\x02")),
            (6, lambda: self.d.decode("Message", (EXAMPLES / "trap.ber").read_bytes())["data"]["get-request"]),
            (6, lambda: self.d.decode("Message", (EXAMPLES / "trap.ber").read_bytes())["no-such-member"]),
            (tul.ERR_INCOMPATIBLE, lambda: self.d.parse("INTEGER 5")["member"]),
            (tul.ERR_INCOMPATIBLE, lambda: self.d.parse("INTEGER 5")[0]),
        ]
        for code, call in cases:
            with self.assertRaises(tul.Error) as raised:
                call()
            self.assertEqual(raised.exception.code, code, raised.exception)
            self.assertRegex(raised.exception.message, r"^[^#]")

    def test_bad_definitions_name_file_and_line(self):
        with tempfile.NamedTemporaryFile("w", suffix=".defs") as bad:
            bad.write("TUL.Asn1 { name 'A', type 'INTEGER' }\n\nTUL.Asn1 { name 'B' type }\n")
            bad.flush()
            with self.assertRaises(tul.Error) as raised:
                self.d.load_definitions(bad.name)
        self.assertIn(f"{bad.name}:3:", raised.exception.message)
        self.assertIn("A", self.d.types())

    def test_closed_dictionary(self):
        d = tul.Dictionary()
        value = d.parse("INTEGER 5")
        d.load_definitions(DEFINITIONS[0])
        element = d.decode("Message", (EXAMPLES / "trap.ber").read_bytes())["community"]  # lent
        with d:
            self.assertEqual(value.to_python(), 5)
        for call in (lambda: str(value), value.encode, element.to_python, lambda: d.parse("INTEGER 1")):
            with self.assertRaises(tul.Error):
                call()
        d.close()  # twice is harmless
        self.assertIn("closed", repr(value))

    def test_hostile_arguments_raise_and_never_crash(self):
        generator = random.Random(21)
        trap = (EXAMPLES / "trap.ber").read_bytes()
        blobs = [None, 5, "text", b"", b"\0", bytes(range(256)), bytearray(b"\x02\x01\x05"), memoryview(trap)]
        blobs += [bytes(generator.randrange(256) for _ in range(generator.randrange(40))) for _ in range(300)]
        for _ in range(300):
            mutated = bytearray(trap)
            for _ in range(generator.randrange(1, 4)):
                mutated[generator.randrange(len(mutated))] = generator.randrange(256)
            blobs.append(bytes(mutated[:generator.randrange(len(mutated) + 1)]))
        texts = [None, 7, b"INTEGER 5", "", "\0", "INTEGER\0 5", "\udc80", "\U0010ffff" * 100, "{" * 5000,
                 "Message " + "{" * 300, "TUL.Asn1 { name '\u00e9', type 'INTEGER' }", "INTEGER 99999999999999999999"]
        calls = [lambda b: self.d.decode("Message", b), lambda b: self.d.translate("Trap-PDU", b),
                 lambda b: self.d.translate("EventReportArgument", b), tul.ber_length]
        text_calls = [self.d.parse, self.d.describe, lambda t: self.d.decode(t, b"\x02\x01\x05"),
                      lambda t: self.d.translate(t, b"\x30\x00"), self.d.load_definitions]
        for call, arguments in [(c, blobs) for c in calls] + [(c, texts) for c in text_calls]:
            for argument in arguments:
                try:
                    result = call(argument)
                except (tul.Error, TypeError):
                    continue
                if isinstance(result, tul.Value):
                    result.to_python(), result.to_json(), str(result), result.encode()

    def test_memory_stays_flat(self):
        trap = (EXAMPLES / "trap.ber").read_bytes()
        for _ in range(2000):
            self.d.decode("Message", trap).to_python()
        before = resident_kib()
        for _ in range(100_000):
            self.d.decode("Message", trap)
        gc.collect()
        self.assertLess(resident_kib() - before, 4096)

    def test_package_builds_offline_with_setuptools(self):
        with tempfile.TemporaryDirectory() as work:
            source = Path(work) / "python"
            shutil.copytree(ROOT / "python", source, ignore=shutil.ignore_patterns("__pycache__"))
            built = subprocess.run(
                [sys.executable, "-c", "from setuptools import build_meta as b; print(b.build_wheel('dist'))"],
                cwd=source, capture_output=True, text=True, check=True)
            wheel = source / "dist" / built.stdout.split()[-1]
            self.assertIn("tul/__init__.py", zipfile.ZipFile(wheel).namelist())


if __name__ == "__main__":
    unittest.main()
