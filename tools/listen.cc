// Live input: each datagram received on a UDP port is one record, handled
// as it arrives. One receive buffer is reused, so memory stays the same
// under any load: what the program cannot take in time the kernel drops,
// and the drops are counted (SO_RXQ_OVFL while running, the socket's line
// in /proc/net at the end). SIGINT and SIGTERM arrive through a signalfd,
// so a signal between two datagrams cannot be missed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <sstream>

#include "cli.h"

namespace tul::cli {
namespace {

constexpr int kDefaultPort = 162;
constexpr int kReceiveBuffer = 4 << 20;
// Datagrams taken before the signal descriptor is looked at again; after a
// signal, what is queued already is still taken, unless a flood goes on.
constexpr int kBatch = 1024;
constexpr int kFinalBatch = 1 << 16;

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// SIGINT and SIGTERM blocked for the listener's life and read from a
// descriptor instead.
class SignalGuard {
 public:
  SignalGuard() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    sigprocmask(SIG_BLOCK, &set_, &previous_);
  }
  ~SignalGuard() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  SignalGuard(const SignalGuard&) = delete;
  SignalGuard& operator=(const SignalGuard&) = delete;
  const sigset_t& set() const { return set_; }

 private:
  sigset_t set_, previous_;
};

// A socket on `port` of every local address, IPv6 and IPv4 alike where
// the system allows; -1 with a message otherwise.
int open_socket(int port) {
  int fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_storage address{};
  socklen_t size;
  if (fd >= 0) {
    const int off = 0;
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(static_cast<uint16_t>(port));
    size = sizeof *in6;
  } else {
    fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    auto* in4 = reinterpret_cast<sockaddr_in*>(&address);
    in4->sin_family = AF_INET;
    in4->sin_port = htons(static_cast<uint16_t>(port));
    size = sizeof *in4;
  }
  const int on = 1, buffer = kReceiveBuffer;
  if (fd >= 0) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
  }
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0) {
    report("cannot listen on UDP port %d: %s", port, std::strerror(errno));
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

int bound_port(int fd) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  return ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                             : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

// "ADDRESS:PORT" of a sender; an IPv4 sender on the IPv6 socket as IPv4.
std::string sender_text(const sockaddr_storage& from) {
  char text[INET6_ADDRSTRLEN] = "";
  if (from.ss_family == AF_INET) {
    const auto& in4 = reinterpret_cast<const sockaddr_in&>(from);
    inet_ntop(AF_INET, &in4.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(in4.sin_port));
  }
  const auto& in6 = reinterpret_cast<const sockaddr_in6&>(from);
  const bool mapped = IN6_IS_ADDR_V4MAPPED(&in6.sin6_addr);
  inet_ntop(mapped ? AF_INET : AF_INET6, mapped ? &in6.sin6_addr.s6_addr[12] : in6.sin6_addr.s6_addr, text,
            sizeof text);
  return (mapped ? std::string(text) : "[" + std::string(text) + "]") + ":" + std::to_string(ntohs(in6.sin6_port));
}

// The drops the kernel counts for the socket in /proc/net/udp or udp6: the
// line whose inode is the socket's; its last field.
unsigned long dropped_by_kernel(int fd) {
  struct stat status {};
  if (fstat(fd, &status) != 0) return 0;
  for (const char* table : {"/proc/net/udp6", "/proc/net/udp"}) {
    std::ifstream in(table);
    std::string line, field;
    std::getline(in, line);
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::vector<std::string> words;
      while (fields >> field) words.push_back(field);
      if (words.size() >= 13 && words[9] == std::to_string(status.st_ino)) return std::stoul(words[12]);
    }
  }
  return 0;
}

struct Counts {
  unsigned long received = 0, failed = 0, dropped = 0;
};

class Listener {
 public:
  Listener(const Invocation& inv, int fd, const RecordAction& action)
      : inv_(inv), fd_(fd), action_(action), buffer_(65536) {}

  // Takes the datagrams queued now, at most `limit`; false when the count
  // asked for is reached or the socket fails.
  bool take(int limit, Counts& counts) {
    for (int n = 0; n < limit; ++n) {
      if (inv_.count > 0 && counts.received >= static_cast<unsigned long>(inv_.count)) return false;
      sockaddr_storage from{};
      iovec io{buffer_.data(), buffer_.size()};
      alignas(cmsghdr) char control[CMSG_SPACE(sizeof(uint32_t))];
      msghdr message{&from, sizeof from, &io, 1, control, sizeof control, 0};
      const ssize_t size = recvmsg(fd_, &message, MSG_DONTWAIT | MSG_TRUNC);
      if (size < 0 && errno == EINTR) continue;
      if (size < 0) return errno == EAGAIN || errno == EWOULDBLOCK || failed_socket();
      for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c))
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL)
          std::memcpy(&drops_seen_, CMSG_DATA(c), sizeof drops_seen_);
      ++counts.received;
      if (!handle(static_cast<std::size_t>(size), message, from, counts.received)) ++counts.failed;
    }
    return true;
  }

  unsigned long drops_seen() const { return drops_seen_; }

 private:
  bool failed_socket() const {
    report("cannot receive datagrams: %s", std::strerror(errno));
    return false;
  }

  bool handle(std::size_t size, const msghdr& message, const sockaddr_storage& from, unsigned long number) {
    const std::string where = "datagram " + std::to_string(number) + " from " + sender_text(from);
    const std::span<const uint8_t> octets(buffer_.data(), std::min(size, buffer_.size()));
    const Frame frame = message.msg_flags & MSG_TRUNC
                            ? Frame{false, 0, "datagram of " + std::to_string(size) + " octets, longer than UDP allows"}
                            : whole_record(octets, "in its datagram");
    return action_(octets, frame, where);
  }

  const Invocation& inv_;
  int fd_;
  const RecordAction& action_;
  std::vector<uint8_t> buffer_;
  uint32_t drops_seen_ = 0;
};

}  // namespace

bool for_each_datagram(const Invocation& inv, const RecordAction& action) {
  const SignalGuard signals;
  const Descriptor signal_fd(signalfd(-1, &signals.set(), SFD_CLOEXEC));
  if (signal_fd.get() < 0) {
    report("cannot watch for signals: %s", std::strerror(errno));
    return false;
  }
  const Descriptor socket_fd(open_socket(inv.port >= 0 ? inv.port : kDefaultPort));
  if (socket_fd.get() < 0) return false;
  report("listening on UDP port %d", bound_port(socket_fd.get()));
  Listener listener(inv, socket_fd.get(), action);
  Counts counts;
  for (bool more = true; more;) {
    pollfd fds[] = {{socket_fd.get(), POLLIN, 0}, {signal_fd.get(), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
    const bool stop = fds[1].revents != 0;
    // Taken from the descriptor, the signal is no longer pending when the
    // mask is restored.
    signalfd_siginfo taken;
    if (stop && read(signal_fd.get(), &taken, sizeof taken) < 0) report("reading the signal: %s", std::strerror(errno));
    more = listener.take(stop ? kFinalBatch : kBatch, counts) && !stop;
  }
  counts.dropped = std::max<unsigned long>(listener.drops_seen(), dropped_by_kernel(socket_fd.get()));
  report("%lu datagrams received, %lu failed, %lu dropped by the kernel", counts.received, counts.failed,
         counts.dropped);
  if (counts.dropped > 0)
    report("warning: %lu datagrams arrived faster than they were decoded and were lost", counts.dropped);
  return counts.failed == 0;
}

}  // namespace tul::cli
