"""Typed ASN.1 values whose definitions arrive at run time, from Python.

A binding over libtul (the C API of include/tul.h) with the standard
library's ctypes. A `Dictionary` holds the types; it decodes BER octets into
`Value` objects, parses value notation, and translates event reports and
traps into attribute lists::

    import tul
    with tul.Dictionary() as d:
        d.load_definitions("examples/snmpv1.defs")
        message = d.decode("Message", open("examples/trap.ber", "rb").read())
        print(message)                     # value notation
        message.to_python()["community"]   # b'public'
        message.encode()                   # the BER octets again

Failures of the library raise `tul.Error` (its code and message); wrong
argument types raise `TypeError`.

Ownership: a Value that a call returns owns its C value and frees it when
the Python object goes. A Value taken out of another (``value["member"]``,
``value[0]``) is lent: it keeps its container alive and frees nothing.
Closing a dictionary (leaving its ``with`` block, or `Dictionary.close`)
frees every value made from it; using one afterwards raises `tul.Error`.

Threads and processes: the library is single-threaded by design. Its
options, its error trace and its unique strings (one interned copy of every
name, shared by all dictionaries) are per process and unlocked, so use the
binding from one thread at a time per process, and scale by processes (see
examples/scale for a Dask program doing so). When the last open dictionary
of the process is closed, the unique strings are released too.

The library is found through the TUL_LIBRARY environment variable (a path
to libtul.so), then beside the package (an installation prefix's lib
directory, or build/release of a source checkout), then by the system's
loader.
"""

from __future__ import annotations

import ctypes
import os
import re
import weakref
from typing import Any, Iterator, Optional, Union

from . import _lib
from ._lib import LIB, LIBC

__all__ = [
    "Error", "Dictionary", "Value", "ber_length", "set_trace", "set_typed_any",
    "set_wide_integers", "library_version",
    "ERR_MEMORY", "ERR_NO_TYPE", "ERR_PARSE", "ERR_OPEN", "ERR_DECODE", "ERR_ARGUMENT",
]

Octets = Union[bytes, bytearray, memoryview]
PathLike = Union[str, "os.PathLike[str]"]

# The library's error codes that the binding raises itself.
ERR_MEMORY = 2
ERR_NO_TYPE = 4
ERR_INCOMPATIBLE = 7
ERR_INDEX = 8
ERR_PARSE = 11
ERR_OPEN = 12
ERR_DECODE = 17
ERR_ARGUMENT = 21

_INT_MAX = 2**31 - 1
_TRANSLATE_KINDS = ("EventReportArgument", "zrEventLogRecord", "zrCMISLogRecord", "Trap-PDU")
_PRINTABLE_PRINT = _lib.BehaviorHead.in_dll(LIB, "TUL_printable_behavior").print

# Basic-type bits of include/tul.h.
_BOOLEAN, _INTEGER, _BITSTRING, _OCTETSTRING, _NULL, _OID, _REAL, _ENUMERATED = (
    0x1, 0x2, 0x4, 0x8, 0x10, 0x20, 0x40, 0x80)
_STRUCTURE, _LIST, _CHOICE = 0x100 | 0x400, 0x200 | 0x800, 0x1000

_open_dictionaries = 0

# Failures arrive as exceptions; the library's trace would repeat them.
LIB.TUL_set_option(2, 0)


class Error(Exception):
    """A failure reported by the library: `code` is its error code
    (``tul.ERR_*``, the TUL_ERR_* numbers of tul.h), `message` its text."""

    def __init__(self, code: int, message: str) -> None:
        super().__init__(code, message)
        self.code = code
        self.message = message

    def __str__(self) -> str:
        return f"#{self.code} {self.message}"


def _text(value: Any, what: str) -> bytes:
    """A str argument as the NUL-terminated UTF-8 the library reads."""
    if not isinstance(value, str):
        raise TypeError(f"{what} must be str, not {type(value).__name__}")
    try:
        data = value.encode("utf-8")
    except UnicodeEncodeError as error:
        raise Error(ERR_ARGUMENT, f"{what} cannot be written as UTF-8: {error.reason}") from None
    if b"\0" in data:
        raise Error(ERR_ARGUMENT, f"{what} holds a NUL character")
    return data


def _path(value: Any) -> bytes:
    if not isinstance(value, (str, os.PathLike)):
        raise TypeError(f"path must be str or os.PathLike, not {type(value).__name__}")
    data = os.fsencode(value)
    if b"\0" in data:
        raise Error(ERR_ARGUMENT, "path holds a NUL character")
    return data


def _octets(value: Any) -> bytes:
    if not isinstance(value, (bytes, bytearray, memoryview)):
        raise TypeError(f"octets must be bytes-like, not {type(value).__name__}")
    data = bytes(value)
    if len(data) > _INT_MAX:
        raise Error(ERR_ARGUMENT, "more octets than the library takes in one value")
    return data


def _checked(pointer: Optional[int], code: int, message: str) -> int:
    """`pointer` when it is a value; else raises, freeing an error object."""
    if not pointer:
        raise Error(code, message)
    header = _lib.header(pointer)
    if header.error:
        text = _lib.octets_of(pointer).decode("utf-8", "replace")
        error = Error(header.error, re.sub(r"^#\d+ ", "", text))
        LIB.TUL_free(pointer)
        raise error
    return pointer


def ber_length(octets: Octets, offset: int = 0) -> int:
    """Octets that the BER element starting at `offset` occupies, read with
    the decoder's own rules: frames records that follow one another.
    Raises `Error` (ERR_DECODE, what is wrong) when it cannot be read."""
    data = octets if isinstance(octets, bytes) else _octets(octets)
    if not isinstance(offset, int) or not 0 <= offset <= len(data):
        raise Error(ERR_ARGUMENT, "offset outside the octets")
    problem = ctypes.c_char_p()
    base = ctypes.cast(ctypes.c_char_p(data), ctypes.c_void_p).value or 0
    length = LIB.TUL_ber_length(base + offset, len(data) - offset, ctypes.byref(problem))
    if length < 0:
        raise Error(ERR_DECODE, (problem.value or b"not BER").decode("utf-8", "replace"))
    return length


def set_trace(on: bool) -> None:
    """Write the library's error messages to standard error (off in the
    binding, which raises them as `Error`). Process-wide."""
    LIB.TUL_set_option(2, 1 if on else 0)


def set_typed_any(on: bool) -> None:
    """Decode members declared plain ANY as the type their tag names (as
    the tul program does by default). Process-wide; off by default."""
    LIB.TUL_set_typed_any(1 if on else 0)


def set_wide_integers(on: bool) -> None:
    """Make INTEGER and ENUMERATED values 64-bit (as the tul program does by
    default). Process-wide; off by default."""
    LIB.TUL_set_wide_integers(1 if on else 0)


def library_version() -> str:
    """The library's version text."""
    return (LIB.TUL_library_version() or b"").decode("utf-8", "replace")


class Value:
    """A typed ASN.1 value of a `Dictionary`.

    ``str(value)`` is the typed value notation (``Type value``), which
    `Dictionary.parse` reads back. ``value["member"]`` is a SEQUENCE or SET
    member (None when absent) or a CHOICE's alternative, ``value[i]`` and
    ``len(value)`` an element and the size of a SEQUENCE OF or SET OF; both
    are lent from the container. ``==`` compares values as the library does.
    """

    __slots__ = ("_pointer", "_dictionary", "_owner", "__weakref__")

    def __init__(self, pointer: int, dictionary: "Dictionary", owner: Any = None) -> None:
        self._pointer: Optional[int] = pointer
        self._dictionary = dictionary
        self._owner = owner  # what keeps a lent value alive; None: owned
        if owner is None:
            dictionary._values[pointer] = self

    def __del__(self) -> None:
        if self._owner is None and self._pointer:
            self._release()

    def _release(self) -> None:
        pointer, self._pointer = self._pointer, None
        if pointer:
            LIB.TUL_free(pointer)

    def _live(self) -> int:
        if not self._pointer or self._dictionary._md is None:
            raise Error(ERR_ARGUMENT, "the value's dictionary is closed")
        return self._pointer

    @property
    def type(self) -> str:
        """The name of the value's type."""
        return (LIB.TUL_object_type(self._live()) or b"").decode("utf-8", "replace")

    def encode(self) -> bytes:
        """The value in BER (definite lengths)."""
        ber = _checked(LIB.TUL_encode(self._live()), ERR_ARGUMENT, f"a {self.type} value does not encode")
        try:
            return _lib.octets_of(ber)
        finally:
            LIB.TUL_free(ber)

    def __str__(self) -> str:
        text = _lib.take_text(LIB.TUL_print2str(self._live()))
        if text is None:
            raise Error(ERR_MEMORY, "no memory to print the value")
        return text

    def __repr__(self) -> str:
        if self._pointer is None or self._dictionary._md is None:
            return "<tul.Value of a closed dictionary>"
        return f"<tul.Value {self.type}>"

    def to_json(self) -> str:
        """One line of JSON, ``{"type": NAME, "value": ...}``: the form
        that ``tul decode --json`` and ``tul translate --json`` print."""
        text = _lib.take_text(LIB.TUL_print_json_string(self._live()))
        if text is None:
            raise Error(ERR_MEMORY, f"a {self.type} value cannot be written as JSON")
        return text

    def to_python(self) -> Any:
        """The value as plain Python data, mapped as the JSON form maps it:
        SEQUENCE and SET a dict keyed by member names (absent members left
        out), SEQUENCE OF and SET OF a list, CHOICE a dict with the
        alternative's name as its one key, INTEGER an int, REAL a float,
        BOOLEAN a bool, NULL None, ENUMERATED its name (the int when it has
        none), OBJECT IDENTIFIER a dotted str, BIT STRING a str of 0 and 1,
        character strings a str. Where JSON needs a text form, Python has a
        type of its own: OCTET STRING, ANY and BER-String give bytes (the
        whole encoding for the last two), and REAL infinities and NaN are
        floats."""
        return _python(self._live())

    def __getitem__(self, key: Union[str, int]) -> Optional["Value"]:
        pointer = self._live()
        basic = LIB.TUL_object_basic_type(pointer)
        if isinstance(key, str) and basic & _CHOICE:
            name = LIB.TUL_member_name(pointer)
            if name is None or name.decode("utf-8", "replace") != key:
                raise Error(6, f"'{key}' is not the chosen alternative")
            return self._lend(LIB.TUL_read_choice(pointer))
        if isinstance(key, str):
            if not basic & _STRUCTURE:
                raise Error(ERR_INCOMPATIBLE, f"{self.type} values have no members")
            return self._lend(LIB.TUL_assoc(pointer, _text(key, "member name")))
        if isinstance(key, int) and not isinstance(key, bool):
            if not basic & _LIST:
                raise Error(ERR_INCOMPATIBLE, f"{self.type} values have no elements")
            size = LIB.TUL_size(pointer)
            index = key + size if key < 0 else key
            if not 0 <= index < size:
                raise IndexError(key)
            return self._lend(LIB.TUL_at(pointer, index))
        raise TypeError(f"value keys are str or int, not {type(key).__name__}")

    def __len__(self) -> int:
        pointer = self._live()
        if not LIB.TUL_object_basic_type(pointer) & _LIST:
            raise TypeError(f"{self.type} values have no length")
        return LIB.TUL_size(pointer)

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Value):
            return NotImplemented
        return bool(LIB.TUL_equal(self._live(), other._live()))

    __hash__ = None  # type: ignore[assignment]

    def _lend(self, pointer: Optional[int]) -> Optional["Value"]:
        if not pointer:
            return None
        _checked(pointer, ERR_ARGUMENT, "")
        return Value(pointer, self._dictionary, owner=self)


class Dictionary:
    """A dictionary of ASN.1 types and templates (a TUL_Metadata), holding
    the built-in types and the meta-schema. Use it as a context manager, or
    call `close`; both free it and every value made from it."""

    def __init__(self) -> None:
        global _open_dictionaries
        # The values it owns, by C pointer, to free when it closes.
        self._values: "weakref.WeakValueDictionary[int, Value]" = weakref.WeakValueDictionary()
        self._md: Optional[int] = LIB.TUL_new_Metadata()
        if not self._md:
            raise Error(ERR_MEMORY, "no memory for a dictionary")
        _open_dictionaries += 1

    def __enter__(self) -> "Dictionary":
        return self

    def __exit__(self, *exc_info: Any) -> None:
        self.close()

    def __del__(self) -> None:
        if getattr(self, "_md", None):
            self.close()

    def close(self) -> None:
        """Frees the dictionary and every value made from it (once)."""
        global _open_dictionaries
        if not self._md:
            return
        for value in list(self._values.values()):
            value._release()
        LIB.TUL_free_Metadata(self._md)
        self._md = None
        _open_dictionaries -= 1
        if _open_dictionaries == 0:
            LIB.TUL_free_unique_strings()

    def _live(self) -> int:
        if not self._md:
            raise Error(ERR_ARGUMENT, "the dictionary is closed")
        return self._md

    def _own(self, pointer: Optional[int], code: int, message: str) -> Value:
        return Value(_checked(pointer, code, message), self)

    def load_definitions(self, path: PathLike) -> list[str]:
        """Enters the definitions file `path` (typed meta-schema values such
        as ``TUL.Asn1 { name 'Port', type 'SEQUENCE', fields {...} }``).
        Returns the warnings ("PATH:LINE: text"); raises `Error` with the
        library's code and messages when the file does not load (the
        definitions before the fault stay entered)."""
        md, name = self._live(), _path(path)
        report = LIBC.tmpfile()
        if not report:
            raise Error(ERR_OPEN, "no temporary file for the load report")
        try:
            code = LIB.TUL_load_definitions_file(md, name, report)
            messages = _read_all(report)
        finally:
            LIBC.fclose(report)
        if code:
            raise Error(code, "\n".join(messages) or f"{os.fsdecode(name)}: does not load")
        return messages

    def load_persistence(self, path: PathLike) -> None:
        """Enters a persistence file (either format) or a directory of
        them, as ``tul --defs file.per`` does."""
        line = ctypes.c_int(0)
        code = LIB.TUL_load_Metadata_status(self._live(), _path(path), ctypes.byref(line))
        if code:
            where = f":{line.value}" if line.value else ""
            raise Error(code, f"{os.fsdecode(_path(path))}{where}: does not load")

    def types(self, all: bool = False) -> list[str]:
        """Sorted names of the types entered into the dictionary; with
        `all`, the built-in and meta-schema types that have a definition as
        well."""
        names = _type_names(self._live())
        if not all:
            names -= _builtin_names()
        return sorted(names)

    def describe(self, name: str) -> Optional[Value]:
        """The "TUL.Asn1" value defining type `name` (lent: the dictionary
        owns it), None for a built-in root type that has no definition.
        Raises `Error` (ERR_NO_TYPE) for an unknown type."""
        md, type_name = self._live(), _text(name, "type name")
        if not LIB.TUL_asn1_basic_type(md, type_name):
            raise Error(ERR_NO_TYPE, f"no type '{name}' in the dictionary")
        info = LIB.TUL_asn1_info(md, type_name, 0)
        return Value(info, self, owner=self) if info else None

    def decode(self, type: str, octets: Octets) -> Value:
        """Decodes the one BER element at the start of `octets` as `type`."""
        md, type_name, data = self._live(), _text(type, "type name"), _octets(octets)
        ber = _checked(_lib.new_octets(b"BER-String", md, data), ERR_MEMORY, "no memory for the octets")
        try:
            return self._own(LIB.TUL_decode(type_name, ber, md), ERR_DECODE, f"octets do not decode as {type}")
        finally:
            LIB.TUL_free(ber)

    def parse(self, text: str) -> Value:
        """Parses one typed value in value notation (``Type value``)."""
        md, data = self._live(), _text(text, "value notation")
        return self._own(LIB.TUL_parse_str(md, data), ERR_PARSE, "the text does not parse")

    def translate(self, kind: str, octets: Octets) -> Value:
        """Translates the event report or trap in `octets` into its
        attribute list. `kind`: "EventReportArgument", "zrEventLogRecord",
        "zrCMISLogRecord" or "Trap-PDU"; the dictionary needs the event
        types (examples/cmip.defs) or the SNMPv1 ones (snmpv1.defs)."""
        md, kind_name, data = self._live(), _text(kind, "kind"), _octets(octets)
        if kind not in _TRANSLATE_KINDS:
            raise Error(ERR_ARGUMENT, f"unknown kind '{kind}': " + ", ".join(_TRANSLATE_KINDS))
        ber = _checked(_lib.new_octets(b"BER-String", md, data), ERR_MEMORY, "no memory for the octets")
        try:
            result = LIB.TUL_translate(kind_name, ber, md)
            if not result or _lib.header(result).error:
                LIB.TUL_free(result)
                raise Error(ERR_DECODE, f"does not translate as {kind}{_decode_problem(self, kind, data)}")
            return Value(result, self)
        finally:
            LIB.TUL_free(ber)


def _decode_problem(dictionary: Dictionary, kind: str, data: bytes) -> str:
    """Why a report does not translate, as far as decoding it tells."""
    try:
        dictionary.decode("Trap-PDU" if kind == "Trap-PDU" else "EventReportArgument", data)
    except Error as error:
        return ": " + error.message
    return ""


def _read_all(stream: int) -> list[str]:
    LIBC.rewind(stream)
    chunks = []
    buffer = ctypes.create_string_buffer(65536)
    while True:
        count = LIBC.fread(buffer, 1, len(buffer), stream)
        if not count:
            break
        chunks.append(buffer.raw[:count])
    return [line for line in b"".join(chunks).decode("utf-8", "replace").splitlines() if line]


def _type_names(md: int) -> set[str]:
    names: set[str] = set()

    def collect(info: int, _data: int) -> None:
        name = LIB.TUL_assoc(info, b"name")
        if name and not _lib.header(name).error:
            names.add(_lib.octets_of(name).decode("utf-8", "replace"))

    callback = _lib.DEF_CALLBACK(collect)
    LIB.TUL_for_each_asn1_def(md, ctypes.cast(callback, ctypes.c_void_p), None)
    return names


_builtin_cache: Optional[frozenset] = None


def _builtin_names() -> frozenset:
    """The types every new dictionary has."""
    global _builtin_cache
    if _builtin_cache is None:
        md = LIB.TUL_new_Metadata()
        if not md:
            raise Error(ERR_MEMORY, "no memory for a dictionary")
        try:
            _builtin_cache = frozenset(_type_names(md))
        finally:
            LIB.TUL_free_Metadata(md)
    return _builtin_cache


def _is_character_string(pointer: int) -> bool:
    entry = _lib.EntryHeader.from_address(_lib.header(pointer).type_ref)
    return bool(entry.behavior) and _lib.BehaviorHead.from_address(entry.behavior).print == _PRINTABLE_PRINT


def _python(pointer: int) -> Any:
    basic = LIB.TUL_object_basic_type(pointer)
    simple = _SIMPLE.get(basic)
    if simple:
        return simple(pointer)
    if basic & _STRUCTURE:
        return _structure(pointer)
    if basic & _LIST:
        return [_python(LIB.TUL_at(pointer, i)) for i in range(LIB.TUL_size(pointer))]
    if basic & _CHOICE:
        name = LIB.TUL_member_name(pointer)
        chosen = LIB.TUL_read_choice(pointer)
        if name is None or name == b"???" or not chosen:
            return {}
        return {name.decode("utf-8", "replace"): _python(chosen)}
    return None


def _structure(pointer: int) -> dict:
    names = LIB.TUL_members(pointer)
    if not names:
        raise Error(ERR_MEMORY, "no memory to list the members")
    result = {}
    try:
        i = 0
        while names[i] is not None:
            member = LIB.TUL_assoc(pointer, names[i])
            if member:
                result[names[i].decode("utf-8", "replace")] = _python(member)
            i += 1
    finally:
        LIBC.free(ctypes.cast(names, ctypes.c_void_p))
    return result


def _enumerated(pointer: int) -> Union[str, int]:
    text = _lib.take_text(LIB.TUL_print_value(pointer, 0)) or ""
    try:
        return int(text)
    except ValueError:
        return text


def _oid(pointer: int) -> str:
    arcs = LIB.TUL_read_oid(pointer)
    return ".".join(str(arcs[i] & 0xFFFFFFFF) for i in range(LIB.TUL_size(pointer) if arcs else 0))


def _octet_string(pointer: int) -> Union[str, bytes]:
    octets = _lib.octets_of(pointer)
    return octets.decode("utf-8", "replace") if _is_character_string(pointer) else octets


_SIMPLE = {
    _BOOLEAN: lambda p: bool(LIB.TUL_read_bool(p)),
    _INTEGER: lambda p: int(LIB.TUL_read_int64(p)),
    _ENUMERATED: _enumerated,
    _REAL: lambda p: float(LIB.TUL_read_real(p)),
    _OID: _oid,
    _BITSTRING: lambda p: (LIB.TUL_bit2string(p) or b"").decode("ascii"),
    _OCTETSTRING: _octet_string,
}
