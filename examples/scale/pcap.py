"""UDP payloads of classic pcap and pcapng captures, with the standard library.

Enough of both formats for archived SNMP and CMIP traffic: Ethernet (with
VLAN tags), Linux cooked, loopback and raw IP link types; IPv4 and IPv6
(extension headers skipped); UDP. Fragments are not reassembled: a
fragmented datagram is reported as a problem rather than read wrongly.
"""

from __future__ import annotations

import struct
from typing import Iterator, Optional, Tuple

# (packet number from 1, UDP payload or None, problem text or None)
Packet = Tuple[int, Optional[bytes], Optional[str]]

PCAP_MAGICS = {b"\xd4\xc3\xb2\xa1": "<", b"\xa1\xb2\xc3\xd4": ">",
               b"\x4d\x3c\xb2\xa1": "<", b"\xa1\xb2\x3c\x4d": ">"}
PCAPNG_SECTION = b"\x0a\x0d\x0d\x0a"

LINK_NULL, LINK_ETHERNET, LINK_RAW, LINK_SLL, LINK_IPV4, LINK_IPV6, LINK_SLL2 = 0, 1, 101, 113, 228, 229, 276
_IPV6_EXTENSIONS = {0, 43, 60}  # hop-by-hop, routing, destination options


class CaptureError(ValueError):
    """The data is not a capture this reader understands."""


def is_capture(head: bytes) -> bool:
    return head[:4] in PCAP_MAGICS or head[:4] == PCAPNG_SECTION


def udp_payloads(data: bytes, ports: Optional[set] = None) -> Iterator[Packet]:
    """Every UDP datagram of the capture (to or from one of `ports` when
    given); a damaged packet gives a problem instead, and a damaged file
    ends the walk with one."""
    if data[:4] in PCAP_MAGICS:
        frames = _pcap_frames(data)
    elif data[:4] == PCAPNG_SECTION:
        frames = _pcapng_frames(data)
    else:
        raise CaptureError("not a pcap or pcapng capture")
    for number, link, frame, problem in frames:
        if problem is None:
            payload, problem = _udp_of(link, frame, ports)
            if payload is None and problem is None:
                continue  # not UDP, or another port
            yield number, payload, problem
        else:
            yield number, None, problem


def _pcap_frames(data: bytes):
    order = PCAP_MAGICS[data[:4]]
    if len(data) < 24:
        yield 1, 0, b"", "capture header cut short"
        return
    link = struct.unpack_from(order + "I", data, 20)[0] & 0xFFFF
    offset, number = 24, 0
    while offset < len(data):
        number += 1
        if offset + 16 > len(data):
            yield number, link, b"", "packet header cut short"
            return
        captured, original = struct.unpack_from(order + "II", data, offset + 8)
        start = offset + 16
        if start + captured > len(data):
            yield number, link, b"", "packet cut short"
            return
        problem = "packet cut short by the capture's snapshot length" if captured < original else None
        yield number, link, data[start:start + captured], problem
        offset = start + captured


def _pcapng_frames(data: bytes):
    order, links, offset, number = "<", [], 0, 0
    while offset < len(data):
        if offset + 12 > len(data):
            yield number + 1, 0, b"", "block header cut short"
            return
        if data[offset:offset + 4] == PCAPNG_SECTION:
            order = "<" if data[offset + 8:offset + 12] == b"\x4d\x3c\x2b\x1a" else ">"
            links = []
        kind, length = struct.unpack_from(order + "II", data, offset)
        if length < 12 or length % 4 or offset + length > len(data):
            yield number + 1, 0, b"", "block cut short or damaged"
            return
        body = data[offset + 8:offset + length - 4]
        offset += length
        if kind == 1 and len(body) >= 2:
            links.append(struct.unpack_from(order + "H", body, 0)[0])
        elif kind in (2, 3, 6):
            number += 1
            yield (number,) + _pcapng_packet(order, kind, body, links)


def _pcapng_packet(order: str, kind: int, body: bytes, links: list):
    """(link, frame, problem) of an enhanced (6), simple (3) or obsolete (2)
    packet block."""
    if kind == 3:
        if len(body) < 4 or not links:
            return 0, b"", "simple packet block without interface"
        original = struct.unpack_from(order + "I", body, 0)[0]
        frame = body[4:4 + original]
        return links[0], frame, None if len(frame) == original else "packet cut short by the snapshot length"
    if len(body) < 20:
        return 0, b"", "packet block cut short"
    # Both keep the captured and original lengths at 12; the interface id
    # is 32 bits in the enhanced block, 16 in the obsolete one.
    interface = struct.unpack_from(order + ("I" if kind == 6 else "H"), body, 0)[0]
    captured, original = struct.unpack_from(order + "II", body, 12)
    if interface >= len(links) or 20 + captured > len(body):
        return 0, b"", "packet block damaged"
    problem = "packet cut short by the capture's snapshot length" if captured < original else None
    return links[interface], body[20:20 + captured], problem


def _network_layer(link: int, frame: bytes) -> Tuple[Optional[int], bytes]:
    """(EtherType-like protocol, packet) of a link-layer frame."""
    if link == LINK_ETHERNET:
        kind, offset = int.from_bytes(frame[12:14], "big"), 14
        while kind in (0x8100, 0x88A8) and len(frame) >= offset + 4:
            kind, offset = int.from_bytes(frame[offset + 2:offset + 4], "big"), offset + 4
        return (kind if len(frame) >= 14 else None), frame[offset:]
    if link == LINK_SLL:
        return int.from_bytes(frame[14:16], "big"), frame[16:]
    if link == LINK_SLL2:
        return int.from_bytes(frame[0:2], "big"), frame[20:]
    if link == LINK_NULL:
        family = int.from_bytes(frame[:4], "little") if frame[:1] != b"\0" else int.from_bytes(frame[:4], "big")
        return (0x0800 if family == 2 else 0x86DD if family in (10, 24, 28, 30) else None), frame[4:]
    if link in (LINK_RAW, LINK_IPV4, LINK_IPV6):
        version = frame[0] >> 4 if frame else 0
        return {4: 0x0800, 6: 0x86DD}.get(version), frame
    return None, b""


def _transport(kind: Optional[int], packet: bytes) -> Tuple[Optional[bytes], Optional[str]]:
    """(UDP datagram, problem) of an IP packet; (None, None) when not UDP."""
    if kind == 0x0800 and len(packet) >= 20:
        header = (packet[0] & 0x0F) * 4
        if packet[9] != 17:
            return None, None
        if int.from_bytes(packet[6:8], "big") & 0x3FFF:
            return None, "IPv4 fragment (not reassembled)"
        total = int.from_bytes(packet[2:4], "big")
        return packet[header:max(total, header)], None
    if kind == 0x86DD and len(packet) >= 40:
        following, offset = packet[6], 40
        while following in _IPV6_EXTENSIONS and len(packet) >= offset + 8:
            following, offset = packet[offset], offset + 8 + packet[offset + 1] * 8
        if following == 44:
            return None, "IPv6 fragment (not reassembled)"
        return (packet[offset:], None) if following == 17 else (None, None)
    return None, None


def _udp_of(link: int, frame: bytes, ports: Optional[set]) -> Tuple[Optional[bytes], Optional[str]]:
    datagram, problem = _transport(*_network_layer(link, frame))
    if datagram is None:
        return None, problem
    if len(datagram) < 8:
        return None, "UDP header cut short"
    source, destination, length = struct.unpack_from(">HHH", datagram, 0)
    if ports and source not in ports and destination not in ports:
        return None, None
    if length < 8 or length > len(datagram):
        return None, "UDP datagram cut short"
    return datagram[8:length], None
