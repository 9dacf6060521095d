"""Finding and declaring libtul for the binding (internal).

Every function the binding calls is declared here with its argument and
result types, so a pointer never passes through ctypes as a C int. The
variadic TUL_new is the exception: it gets no argument types, and each call
wraps its arguments itself (see ``new_octets``).
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
from pathlib import Path

_P = ctypes.c_void_p
_S = ctypes.c_char_p
_I = ctypes.c_int
_L = ctypes.c_long

# name: (result, argument types)
_PROTOTYPES = {
    "TUL_new_Metadata": (_P, []),
    "TUL_free_Metadata": (None, [_P]),
    "TUL_free_unique_strings": (None, []),
    "TUL_load_definitions_file": (_I, [_P, _S, _P]),
    "TUL_load_Metadata_status": (_I, [_P, _S, ctypes.POINTER(_I)]),
    "TUL_free": (None, [_P]),
    "TUL_decode": (_P, [_S, _P, _P]),
    "TUL_encode": (_P, [_P]),
    "TUL_parse_str": (_P, [_P, _S]),
    "TUL_print2str": (_P, [_P]),
    "TUL_print_value": (_P, [_P, _I]),
    "TUL_print_json_string": (_P, [_P]),
    "TUL_translate": (_P, [_S, _P, _P]),
    "TUL_read_str": (_P, [_P]),
    "TUL_size": (_L, [_P]),
    "TUL_object_type": (_S, [_P]),
    "TUL_object_basic_type": (_I, [_P]),
    "TUL_read_bool": (_I, [_P]),
    "TUL_read_int64": (ctypes.c_int64, [_P]),
    "TUL_read_real": (ctypes.c_double, [_P]),
    "TUL_read_oid": (ctypes.POINTER(ctypes.c_int32), [_P]),
    "TUL_equal": (_I, [_P, _P]),
    "TUL_bit2string": (_S, [_P]),
    "TUL_members": (ctypes.POINTER(_S), [_P]),
    "TUL_assoc": (_P, [_P, _S]),
    "TUL_at": (_P, [_P, _L]),
    "TUL_read_choice": (_P, [_P]),
    "TUL_member_name": (_S, [_P]),
    "TUL_get_method_table": (_P, [_P, _S]),
    "TUL_asn1_info": (_P, [_P, _S, _I]),
    "TUL_asn1_basic_type": (_I, [_P, _S]),
    "TUL_for_each_asn1_def": (None, [_P, _P, _P]),
    "TUL_ber_length": (_L, [_P, _L, ctypes.POINTER(_S)]),
    "TUL_set_option": (None, [_I, _I]),
    "TUL_get_option": (_I, [_I]),
    "TUL_set_typed_any": (None, [_I]),
    "TUL_set_wide_integers": (None, [_I]),
    "TUL_get_wide_integers": (_I, []),
    "TUL_library_version": (_S, []),
}

# The start of every value record: error, specific, type_ref, ref_cnt.
class ObjectHeader(ctypes.Structure):
    _fields_ = [("error", ctypes.c_int), ("specific", _P), ("type_ref", _P), ("ref_cnt", ctypes.c_int32)]


# The start of every dictionary entry.
class EntryHeader(ctypes.Structure):
    _fields_ = [("name", _P), ("is_allocated", ctypes.c_int), ("behavior", _P), ("dtd", _P),
                ("entry_type", ctypes.c_int)]


# The start of a behaviour table, up to the print slot that tells character
# strings from octets.
class BehaviorHead(ctypes.Structure):
    _fields_ = [("basic_type", ctypes.c_int32)] + [
        (slot, _P) for slot in ("alloc", "init", "free", "decode", "encode", "parse", "print")
    ]


DEF_CALLBACK = ctypes.CFUNCTYPE(None, _P, _P)


def _candidates() -> list[str]:
    """Where libtul may be, most specific first."""
    found = []
    explicit = os.environ.get("TUL_LIBRARY")
    if explicit:
        found.append(explicit)
    package = Path(__file__).resolve().parent
    found.append(str(package / "libtul.so"))
    # An installed package sits in <prefix>/lib/pythonX.Y/site-packages/tul;
    # a source checkout in python/tul beside build/<config>.
    for parent in list(package.parents)[:5]:
        for sub in ("lib", "lib64", "lib/x86_64-linux-gnu", "build/release", "build"):
            found.append(str(parent / sub / "libtul.so"))
    system = ctypes.util.find_library("tul")
    found.append(system or "libtul.so")
    return found


def load() -> ctypes.CDLL:
    """The library with every prototype declared; OSError when none loads."""
    explicit = os.environ.get("TUL_LIBRARY")
    tried = []
    for path in _candidates():
        if "/" in path and not os.path.exists(path):
            continue
        try:
            lib = ctypes.CDLL(path)
            break
        except OSError as error:
            tried.append(f"{path}: {error}")
            if explicit and path == explicit:
                raise
    else:
        raise OSError("libtul.so not found (set TUL_LIBRARY to its path): " + "; ".join(tried or ["nothing found"]))
    for name, (result, arguments) in _PROTOTYPES.items():
        function = getattr(lib, name)
        function.restype = result
        function.argtypes = arguments
    lib.TUL_new.restype = _P
    return lib


LIB = load()
LIBC = ctypes.CDLL(None)
LIBC.free.argtypes = [_P]
LIBC.free.restype = None
LIBC.tmpfile.restype = _P
LIBC.tmpfile.argtypes = []
LIBC.fclose.argtypes = [_P]
LIBC.rewind.argtypes = [_P]
LIBC.rewind.restype = None
LIBC.fread.argtypes = [_P, ctypes.c_size_t, ctypes.c_size_t, _P]
LIBC.fread.restype = ctypes.c_size_t


def new_octets(type_name: bytes, md: int, octets: bytes) -> int | None:
    """TUL_new(type, md, (int)length, octets) for a string type.

    TUL_new reads its variable arguments as C int for lengths and as
    pointers for octets; ctypes passes exactly those types only when each
    argument is wrapped, as here.
    """
    return LIB.TUL_new(_S(type_name), _P(md), _I(len(octets)), _S(octets))


def take_text(pointer: int | None) -> str | None:
    """The malloc'ed NUL-terminated text at `pointer`, freed; None for null."""
    if not pointer:
        return None
    try:
        return ctypes.string_at(pointer).decode("utf-8", "replace")
    finally:
        LIBC.free(pointer)


def octets_of(pointer: int) -> bytes:
    """The octets of a string value (TUL_read_str and TUL_size)."""
    size = LIB.TUL_size(pointer)
    data = LIB.TUL_read_str(pointer)
    return ctypes.string_at(data, size) if data and size > 0 else b""


def header(pointer: int) -> ObjectHeader:
    return ObjectHeader.from_address(pointer)
