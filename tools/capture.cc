// Captures as input: the UDP payloads of the packets of a pcap or pcapng
// file, read through libpcap, are the records. Only the framing below IP
// differs between link types, so a table gives where the IP header starts
// and how its version is told; IP and UDP are read here.
#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "cli.h"

#ifdef TUL_HAVE_PCAP
#include <pcap/pcap.h>

namespace tul::cli {
namespace {

uint16_t read16(std::span<const uint8_t> at, std::size_t offset) {
  return static_cast<uint16_t>(at[offset] << 8 | at[offset + 1]);
}

// How a link type frames its IP packets: the length of its header and where
// the EtherType stands in it (-1: the IP version nibble tells, -2: a
// host-order address family word).
struct LinkType {
  int dlt;
  std::size_t header;
  int ethertype_at;
};

constexpr LinkType kLinkTypes[] = {
    {DLT_EN10MB, 14, 12}, {DLT_LINUX_SLL, 16, 14}, {DLT_LINUX_SLL2, 20, 0},
    {DLT_RAW, 0, -1},     {DLT_IPV4, 0, -1},       {DLT_IPV6, 0, -1},
    {DLT_NULL, 4, -2},    {DLT_LOOP, 4, -2},
};

const LinkType* find_link_type(int dlt) {
  for (const LinkType& type : kLinkTypes)
    if (type.dlt == dlt) return &type;
  return nullptr;
}

enum class Kind { kDatagram, kOther, kFragment };

// The UDP datagram of one packet, or why there is none.
struct Datagram {
  Kind kind = Kind::kOther;
  std::span<const uint8_t> payload;
  std::size_t length = 0;  // the payload's length as sent, which a short capture may cut
  uint16_t source_port = 0, destination_port = 0;
  std::string source;
};

// The IP packet in a frame, from the EtherType after the link header and
// any VLAN tags; empty when the frame holds no IP.
std::span<const uint8_t> ip_packet(const LinkType& link, std::span<const uint8_t> frame) {
  if (frame.size() < link.header) return {};
  std::size_t at = link.header;
  if (link.ethertype_at >= 0) {
    std::size_t type_at = static_cast<std::size_t>(link.ethertype_at);
    uint16_t type = read16(frame, type_at);
    while ((type == 0x8100 || type == 0x88A8) && link.dlt == DLT_EN10MB && frame.size() >= at + 4) {
      type_at = at + 2;
      type = read16(frame, type_at);
      at += 4;
    }
    if (type != 0x0800 && type != 0x86DD) return {};
  }
  return frame.subspan(at);
}

std::string address_text(int family, const uint8_t* address) {
  char text[INET6_ADDRSTRLEN] = "";
  inet_ntop(family, address, text, sizeof text);
  return family == AF_INET6 ? "[" + std::string(text) + "]" : text;
}

// The UDP header and payload at `udp`, within what the capture holds.
void read_udp(std::span<const uint8_t> udp, Datagram& d) {
  if (udp.size() < 8) return;
  const std::size_t sent = read16(udp, 4);
  if (sent < 8) return;
  d.kind = Kind::kDatagram;
  d.source_port = read16(udp, 0);
  d.destination_port = read16(udp, 2);
  d.length = sent - 8;
  d.payload = udp.subspan(8, std::min(udp.size() - 8, d.length));
}

void read_ipv4(std::span<const uint8_t> ip, Datagram& d) {
  const std::size_t header = (ip[0] & 0x0F) * 4u;
  if (ip.size() < 20 || header < 20 || ip.size() < header) return;
  if ((read16(ip, 6) & 0x3FFF) != 0) {
    d.kind = Kind::kFragment;
    return;
  }
  if (ip[9] != IPPROTO_UDP) return;
  d.source = address_text(AF_INET, &ip[12]);
  read_udp(ip.subspan(header), d);
}

// Steps over the extension headers that may stand before UDP.
void read_ipv6(std::span<const uint8_t> ip, Datagram& d) {
  if (ip.size() < 40) return;
  uint8_t next = ip[6];
  std::size_t at = 40;
  while (next == IPPROTO_HOPOPTS || next == IPPROTO_ROUTING || next == IPPROTO_DSTOPTS) {
    if (ip.size() < at + 8) return;
    next = ip[at];
    at += (ip[at + 1] + 1u) * 8u;
  }
  if (next == IPPROTO_FRAGMENT) {
    d.kind = Kind::kFragment;
    return;
  }
  if (next != IPPROTO_UDP || ip.size() < at) return;
  d.source = address_text(AF_INET6, &ip[8]);
  read_udp(ip.subspan(at), d);
}

Datagram read_frame(const LinkType& link, std::span<const uint8_t> frame) {
  Datagram d;
  const std::span<const uint8_t> ip = ip_packet(link, frame);
  if (ip.empty()) return d;
  if (ip[0] >> 4 == 4) read_ipv4(ip, d);
  if (ip[0] >> 4 == 6) read_ipv6(ip, d);
  return d;
}

struct ClosePcap {
  void operator()(pcap_t* p) const { pcap_close(p); }
};

struct Skipped {
  long other = 0, fragments = 0, ports = 0;
};

void report_skipped(const std::string& name, const Skipped& skipped) {
  if (skipped.other + skipped.fragments + skipped.ports == 0) return;
  report("%s: warning: skipped %ld frames without a UDP datagram, %ld IP fragments and %ld datagrams of other ports",
         name.c_str(), skipped.other, skipped.fragments, skipped.ports);
}

bool port_wanted(const Invocation& inv, const Datagram& d) {
  if (inv.port >= 0) return d.source_port == inv.port || d.destination_port == inv.port;
  for (int port : {161, 162})
    if (d.source_port == port || d.destination_port == port) return true;
  return false;
}

}  // namespace

bool for_each_packet(const Invocation& inv, bool go_on, const RecordAction& action) {
  const std::string name = inv.pcap_file == "-" ? "<stdin>" : inv.pcap_file;
  char problem[PCAP_ERRBUF_SIZE] = "";
  const std::unique_ptr<pcap_t, ClosePcap> capture(pcap_open_offline(inv.pcap_file.c_str(), problem));
  if (!capture) {
    report("%s: not a capture that can be read: %s", name.c_str(), problem);
    return false;
  }
  const LinkType* link = find_link_type(pcap_datalink(capture.get()));
  if (!link) {
    report("%s: link type %s is not read", name.c_str(), pcap_datalink_val_to_name(pcap_datalink(capture.get())));
    return false;
  }
  Skipped skipped;
  bool failed = false;
  pcap_pkthdr* header = nullptr;
  const u_char* data = nullptr;
  int status;
  for (long packet = 1; (status = pcap_next_ex(capture.get(), &header, &data)) == 1; ++packet) {
    const Datagram d = read_frame(*link, {data, header->caplen});
    if (d.kind != Kind::kDatagram) {
      ++(d.kind == Kind::kFragment ? skipped.fragments : skipped.other);
      continue;
    }
    if (!port_wanted(inv, d)) {
      ++skipped.ports;
      continue;
    }
    const std::string where = name + ": packet " + std::to_string(packet) + " from " + d.source + ":" +
                              std::to_string(d.source_port);
    Frame frame = whole_record(d.payload, "in its packet");
    if (d.payload.size() < d.length)
      frame = {false, 0, "packet captured in part: " + std::to_string(d.payload.size()) + " of " +
                             std::to_string(d.length) + " octets"};
    if (!action(d.payload, frame, where)) failed = true;
    if (failed && !go_on) break;
  }
  report_skipped(name, skipped);
  if (status == PCAP_ERROR) {
    report("%s: %s", name.c_str(), pcap_geterr(capture.get()));
    return false;
  }
  return !failed;
}

}  // namespace tul::cli

#else

namespace tul::cli {

bool for_each_packet(const Invocation&, bool, const RecordAction&) {
  report("--pcap: this tul was built without libpcap");
  return false;
}

}  // namespace tul::cli

#endif
