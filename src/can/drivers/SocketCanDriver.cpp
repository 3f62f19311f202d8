#include "can/drivers/SocketCanDriver.h"

// glibc's <net/if.h> before the kernel's headers, which then leave its definitions alone.
#include <net/if.h>
#include <net/if_arp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <dirent.h>
#include <linux/can.h>
#include <linux/can/error.h>
#include <linux/can/netlink.h>
#include <linux/can/raw.h>
#include <linux/sock_diag.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <tuple>
#include <vector>

#include "can/BitRate.h"

#ifdef BUSPROBE_HAVE_LIBSOCKETCAN
#include <libsocketcan.h>
#endif

namespace bp::can {

namespace {

// Reads a small sysfs file; "" when it cannot be read.
std::string readSysFile(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "r")) {
    char buf[128];
    const std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    text.assign(buf, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  }
  return text;
}

// The interface's index, 0 when there is no such interface (or the name cannot be one).
unsigned interfaceIndex(const std::string& name) {
  if (name.empty() || name.size() >= IFNAMSIZ || name.find('/') != std::string::npos || name[0] == '.') return 0;
  return if_nametoindex(name.c_str());
}

std::string sysNetPath(const std::string& name, const char* leaf) {
  return "/sys/class/net/" + name + "/" + leaf;
}

// The link type (ARPHRD_*) of an interface, -1 when unknown.
long linkType(const std::string& name) {
  const std::string text = readSysFile(sysNetPath(name, "type"));
  if (text.empty()) return -1;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  return (end != nullptr && *end == '\0') ? v : -1;
}

bool isUp(const std::string& name) {
  const std::string text = readSysFile(sysNetPath(name, "flags"));  // e.g. "0xc1"
  if (text.empty()) return false;
  char* end = nullptr;
  const unsigned long flags = std::strtoul(text.c_str(), &end, 16);
  return end != nullptr && *end == '\0' && (flags & IFF_UP) != 0;
}

// What the kernel's netlink interface says about a link.
struct LinkInfo {
  bool known = false;         // the query was answered
  std::string kind;           // "can", "vcan", "vxcan", ... ("" when the link has no kind)
  bool canController = false;  // a CAN controller (has CAN state data)
  std::uint32_t bitRate = 0;  // its configured bit rate, 0 when none
};

// One RTM_GETLINK request for the interface, answered with its attributes.
LinkInfo queryLink(unsigned ifindex) {
  LinkInfo info;
  const int nl = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (nl < 0) return info;
  struct {
    nlmsghdr header;
    ifinfomsg link;
  } request{};
  request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifinfomsg));
  request.header.nlmsg_type = RTM_GETLINK;
  request.header.nlmsg_flags = NLM_F_REQUEST;
  request.header.nlmsg_seq = 1;
  request.link.ifi_family = AF_UNSPEC;
  request.link.ifi_index = static_cast<int>(ifindex);

  alignas(nlmsghdr) char reply[32768];
  ssize_t got = -1;
  if (::send(nl, &request, request.header.nlmsg_len, 0) >= 0) {
    do got = ::recv(nl, reply, sizeof reply, 0);
    while (got < 0 && errno == EINTR);
  }
  ::close(nl);
  if (got <= 0) return info;

  auto remaining = static_cast<unsigned>(got);
  for (auto* nh = reinterpret_cast<nlmsghdr*>(reply); NLMSG_OK(nh, remaining);
       nh = NLMSG_NEXT(nh, remaining)) {
    if (nh->nlmsg_type != RTM_NEWLINK) continue;  // NLMSG_ERROR: no such link
    info.known = true;
    auto* ifi = static_cast<ifinfomsg*>(NLMSG_DATA(nh));
    int len = static_cast<int>(IFLA_PAYLOAD(nh));
    for (auto* a = IFLA_RTA(ifi); RTA_OK(a, len); a = RTA_NEXT(a, len)) {
      if (a->rta_type != IFLA_LINKINFO) continue;
      int infoLen = static_cast<int>(RTA_PAYLOAD(a));
      for (auto* b = static_cast<rtattr*>(RTA_DATA(a)); RTA_OK(b, infoLen); b = RTA_NEXT(b, infoLen)) {
        if (b->rta_type == IFLA_INFO_KIND) {
          const char* s = static_cast<const char*>(RTA_DATA(b));
          info.kind.assign(s, strnlen(s, RTA_PAYLOAD(b)));
        } else if (b->rta_type == IFLA_INFO_DATA) {
          int dataLen = static_cast<int>(RTA_PAYLOAD(b));
          for (auto* c = static_cast<rtattr*>(RTA_DATA(b)); RTA_OK(c, dataLen); c = RTA_NEXT(c, dataLen)) {
            if (c->rta_type == IFLA_CAN_STATE) info.canController = true;
            if (c->rta_type == IFLA_CAN_BITTIMING && RTA_PAYLOAD(c) >= sizeof(can_bittiming)) {
              can_bittiming bt{};
              std::memcpy(&bt, RTA_DATA(c), sizeof bt);
              info.bitRate = bt.bitrate;
            }
          }
        }
      }
    }
    break;
  }
  if (info.kind == "can") info.canController = true;
  return info;
}

// The kernel driver of the interface's device ("gs_usb", "mcp251x"), "" for virtual links.
std::string deviceDriver(const std::string& name) {
  char target[256];
  const std::string link = sysNetPath(name, "device/driver");
  const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
  if (n <= 0) return {};
  target[n] = '\0';
  const char* slash = std::strrchr(target, '/');
  return slash != nullptr ? slash + 1 : target;
}

// Order of preference among interface names: can*, then vcan*, then the rest; within a group
// by the name without its trailing number, then by that number.
std::tuple<int, std::string, unsigned long, std::string> preferenceKey(const std::string& name) {
  const int group = name.rfind("can", 0) == 0 ? 0 : name.rfind("vcan", 0) == 0 ? 1 : 2;
  std::size_t digits = name.size();
  while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
  const std::string number = name.substr(digits);
  const unsigned long n = number.empty() || number.size() > 9 ? 0 : std::strtoul(number.c_str(), nullptr, 10);
  return {group, name.substr(0, digits), n, name};
}

CanFrame fromKernel(const can_frame& k) noexcept {
  CanFrame f;  // all zero
  if ((k.can_id & CAN_ERR_FLAG) != 0) {
    f.type = kMsgError;
    f.id = k.can_id & CAN_ERR_MASK;
  } else if ((k.can_id & CAN_EFF_FLAG) != 0) {
    f.type = kMsgExtended;
    f.id = k.can_id & CAN_EFF_MASK;
  } else {
    f.id = k.can_id & CAN_SFF_MASK;
  }
  if ((k.can_id & CAN_RTR_FLAG) != 0 && f.type != kMsgError) f.type |= kMsgRemote;
  f.len = std::min<std::uint8_t>(k.can_dlc, 8);
  if (f.type == kMsgData || f.type == kMsgExtended || f.type == kMsgError)
    std::memcpy(f.data.data(), k.data, f.len);
  return f;
}

}  // namespace

SocketCanDriver::SocketCanDriver(std::string interfaceName)
    : m_name(std::move(interfaceName)), m_wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

SocketCanDriver::~SocketCanDriver() {
  close();
  if (m_wakeFd >= 0) ::close(m_wakeFd);
}

std::string SocketCanDriver::firstUsableInterface() {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir("/sys/class/net")) {
    while (const dirent* e = ::readdir(dir)) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      if (linkType(name) == ARPHRD_CAN && isUp(name)) names.push_back(name);
    }
    ::closedir(dir);
  }
  if (names.empty()) return {};
  return *std::min_element(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return preferenceKey(a) < preferenceKey(b);
  });
}

SocketCanDriver::Use SocketCanDriver::enter() noexcept {
  // Register in the current epoch's counter, and make sure no close flipped the epoch meanwhile
  // (a close waits only for the counter of the epoch it ends). Then look at the descriptor.
  // Every step is sequentially consistent: either close() sees this registration and waits, or
  // this call sees the descriptor already taken away (-1, or a newer socket).
  std::uint32_t epoch;
  for (;;) {
    epoch = m_epoch.load(std::memory_order_seq_cst);
    m_users[epoch & 1].fetch_add(1, std::memory_order_seq_cst);
    if (m_epoch.load(std::memory_order_seq_cst) == epoch) break;
    m_users[epoch & 1].fetch_sub(1, std::memory_order_release);  // a close came between: again
  }
  const Use use{m_fd.load(std::memory_order_seq_cst), epoch};
  if (use.fd < 0) leave(use);
  return use;
}

void SocketCanDriver::leave(const Use& use) noexcept {
  m_users[use.epoch & 1].fetch_sub(1, std::memory_order_release);
}

std::uint32_t SocketCanDriver::close() {
  const int fd = m_fd.exchange(-1, std::memory_order_seq_cst);
  if (fd < 0) return kOk;
  // Calls that start from now on count in the other epoch's counter and find no descriptor;
  // wait for the ones already registered, each inside at most one non-blocking system call.
  const std::uint32_t ended = m_epoch.fetch_add(1, std::memory_order_seq_cst);
  interruptWait();  // a reader asleep on the socket leaves it
  while (m_users[ended & 1].load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
  ::close(fd);
  return kOk;
}

std::uint32_t SocketCanDriver::configureBitRate(std::uint32_t bitsPerSecond) {
  const unsigned ifindex = interfaceIndex(m_name);
  const LinkInfo link = queryLink(ifindex);
  if (!link.canController) return kOk;  // vcan, vxcan: no bit rate
  if (link.bitRate == bitsPerSecond && isUp(m_name)) return kOk;
#ifdef BUSPROBE_HAVE_LIBSOCKETCAN
  // Needs CAP_NET_ADMIN; the first step fails at once without it.
  if (can_do_stop(m_name.c_str()) == 0) {
    const bool set = can_set_bitrate(m_name.c_str(), bitsPerSecond) == 0;
    const bool started = can_do_start(m_name.c_str()) == 0;  // up again in either case
    if (set && started) return kOk;
  }
#endif
  // Not allowed (or not built with libsocketcan): usable only as it is configured.
  const LinkInfo now = queryLink(ifindex);
  return now.bitRate == bitsPerSecond ? kOk : kErrBitRate;
}

std::uint32_t SocketCanDriver::open(std::uint16_t bitRateCode, std::uint32_t frameType) {
  (void)frameType;
  close();  // a failed open leaves the bus closed
  const std::uint32_t bitsPerSecond = bitRateOfCode(bitRateCode);
  if (bitsPerSecond == 0) return kErrIllegalParam;

  const unsigned ifindex = interfaceIndex(m_name);
  if (ifindex == 0 || linkType(m_name) != ARPHRD_CAN) return kErrNoInterface;
  if (const std::uint32_t r = configureBitRate(bitsPerSecond); r != kOk) return r;
  if (!isUp(m_name)) return kErrNoInterface;

  const int fd = ::socket(PF_CAN, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, CAN_RAW);
  if (fd < 0) return errno == EAFNOSUPPORT ? kErrNoInterface : kErrSystem;
  auto fail = [fd](std::uint32_t code) {
    ::close(fd);
    return code;
  };

  // Error frames too: the record has a type for them, and the reader drops them.
  const can_err_mask_t errors = CAN_ERR_MASK;
  if (::setsockopt(fd, SOL_CAN_RAW, CAN_RAW_ERR_FILTER, &errors, sizeof errors) != 0) return fail(kErrSystem);
  // A large receive queue, so bursts wait for the reader; FORCE passes rmem_max where allowed.
  const int wanted = kWantedReceiveBuffer;
  if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &wanted, sizeof wanted) != 0)
    (void)::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &wanted, sizeof wanted);  // capped by rmem_max
  int granted = 0;
  socklen_t grantedLen = sizeof granted;
  if (::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &grantedLen) != 0) granted = 0;
  // The kernel reports its drop count with each received frame.
  const int one = 1;
  if (::setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &one, sizeof one) != 0) return fail(kErrSystem);

  sockaddr_can addr{};
  addr.can_family = AF_CAN;
  addr.can_ifindex = static_cast<int>(ifindex);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
    return fail(errno == ENODEV ? kErrNoInterface : kErrSystem);

  m_rcvBufBytes.store(granted, std::memory_order_relaxed);
  m_kernelDrops.store(0, std::memory_order_relaxed);  // no reader holds a socket now
  m_fd.store(fd, std::memory_order_seq_cst);          // published fully set up
  interruptWait();  // a reader asleep while the bus was closed now waits on the new socket
  return kOk;
}

std::uint32_t SocketCanDriver::read(CanFrame& frame) noexcept {
  const Use use = enter();
  if (use.fd < 0) return kErrNotOpen;

  can_frame k{};
  iovec iov{&k, sizeof k};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(std::uint32_t))];
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  const ssize_t n = ::recvmsg(use.fd, &msg, MSG_DONTWAIT);
  const int err = errno;
  if (n < 0 && (err == EAGAIN || err == EWOULDBLOCK)) {
    // The count that comes with each frame misses drops after the last queued frame of a burst;
    // with the queue empty, the socket's own count has them all.
    std::uint32_t info[SK_MEMINFO_VARS] = {};
    socklen_t infoLen = sizeof info;
    if (::getsockopt(use.fd, SOL_SOCKET, SO_MEMINFO, info, &infoLen) == 0 && infoLen > SK_MEMINFO_DROPS * sizeof info[0])
      m_kernelDrops.store(info[SK_MEMINFO_DROPS], std::memory_order_relaxed);
  }
  leave(use);

  if (n < 0) return (err == EAGAIN || err == EWOULDBLOCK || err == EINTR) ? kErrQueueEmpty : kErrSystem;
  if (static_cast<std::size_t>(n) != sizeof k) return kErrSystem;  // not a classic CAN frame
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
      std::uint32_t drops = 0;
      std::memcpy(&drops, CMSG_DATA(c), sizeof drops);
      m_kernelDrops.store(drops, std::memory_order_relaxed);
    }
  }
  frame = fromKernel(k);
  return kOk;
}

bool SocketCanDriver::waitForFrames(std::uint32_t timeoutMs) noexcept {
  if (m_wakeFd < 0) return false;
  const Use use = enter();  // close() interrupts the wait before it waits for this call to leave
  pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {use.fd, POLLIN, 0}};
  const nfds_t count = use.fd >= 0 ? 2 : 1;
  const int timeout = timeoutMs > 0x7FFFFFFFu ? -1 : static_cast<int>(timeoutMs);
  const int ready = ::poll(fds, count, timeout);
  if (use.fd >= 0) leave(use);
  if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
    std::uint64_t counted = 0;
    (void)!::read(m_wakeFd, &counted, sizeof counted);  // back to zero
  }
  // A socket that reports only an error or a hang-up (its interface went away) would wake every
  // wait at once; the reader's read takes a pending error, after which poll sleeps again.
  return true;
}

void SocketCanDriver::interruptWait() noexcept {
  if (m_wakeFd < 0) return;
  const std::uint64_t one = 1;
  (void)!::write(m_wakeFd, &one, sizeof one);
}

std::uint32_t SocketCanDriver::versionText(char* buffer) {
  const unsigned ifindex = interfaceIndex(m_name);
  if (ifindex == 0) return kErrNoInterface;
  std::string driver = deviceDriver(m_name);
  if (driver.empty()) driver = queryLink(ifindex).kind;
  if (driver.empty()) driver = "unknown driver";
  std::snprintf(buffer, kVersionTextSize, "SocketCAN %s (%s)", m_name.c_str(), driver.c_str());
  return kOk;
}

std::uint32_t SocketCanDriver::write(const CanFrame& frame) {
  if (frame.len > 8) return kErrIllegalParam;
  if ((frame.type & ~(kMsgRemote | kMsgExtended)) != 0) return kErrIllegalParam;
  const bool extended = (frame.type & kMsgExtended) != 0;
  if (frame.id > (extended ? CAN_EFF_MASK : CAN_SFF_MASK)) return kErrIllegalParam;

  can_frame k{};
  k.can_id = frame.id | (extended ? CAN_EFF_FLAG : 0U) | ((frame.type & kMsgRemote) != 0 ? CAN_RTR_FLAG : 0U);
  k.can_dlc = frame.len;
  if ((frame.type & kMsgRemote) == 0) std::memcpy(k.data, frame.data.data(), frame.len);

  // When the link goes down the kernel leaves a report (ENETDOWN) on the socket, and the next
  // send or receive takes it instead of its own result. Usually the reader takes it; when a send
  // does, nothing was sent, so it is tried once more, which fails only if the link is still down.
  for (bool retried = false;; retried = true) {
    const Use use = enter();
    if (use.fd < 0) return kErrNotOpen;
    const ssize_t n = ::send(use.fd, &k, sizeof k, MSG_DONTWAIT);
    const int err = errno;
    leave(use);
    if (n == static_cast<ssize_t>(sizeof k)) return kOk;
    if (n < 0 && err == ENETDOWN && !retried) continue;
    if (n < 0 && (err == ENOBUFS || err == EAGAIN || err == EWOULDBLOCK)) return kErrTxQueueFull;
    return kErrSystem;
  }
}

}  // namespace bp::can
