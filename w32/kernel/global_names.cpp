#include "kernel/global_names.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace w32 {
namespace {

// Abstract socket names begin with a zero byte; a holder's name is the
// prefix and 16 random hex digits, so no other user can take it beforehand.
std::string HolderPrefix(const std::string& hash) { return std::string(1, '\0') + "w32-global-" + hash + "-"; }

UniqueFd BindHolder(const std::string& prefix) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    uint64_t random = 0;
    if (::getrandom(&random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return UniqueFd();
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(random));
    const std::string name = prefix + digits;
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) return fd;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.data(), name.size());
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), size) == 0) return fd;
    if (errno != EADDRINUSE) return UniqueFd();
  }
  return UniqueFd();
}

enum class Holders { kOursOnly, kAnotherUser, kUnknown };

// Who holds sockets whose names begin with `prefix`, from the kernel's list
// of this network namespace's unix sockets with their owners (sock_diag).
Holders LookAtHolders(const std::string& prefix) {
  UniqueFd netlink(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  if (!netlink) return Holders::kUnknown;
  struct {
    nlmsghdr header;
    unix_diag_req request;
  } ask{};
  ask.header.nlmsg_len = sizeof ask;
  ask.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  ask.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  ask.request.sdiag_family = AF_UNIX;
  ask.request.udiag_states = ~0u;
  ask.request.udiag_show = UDIAG_SHOW_NAME | UDIAG_SHOW_UID;
  if (::send(netlink.get(), &ask, sizeof ask, 0) != static_cast<ssize_t>(sizeof ask)) return Holders::kUnknown;
  const uid_t us = ::geteuid();
  Holders found = Holders::kOursOnly;
  alignas(nlmsghdr) char buffer[32768];
  for (;;) {
    ssize_t n = ::recv(netlink.get(), buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Holders::kUnknown;
    for (auto* header = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(header, n); header = NLMSG_NEXT(header, n)) {
      if (header->nlmsg_type == NLMSG_DONE) return found;
      if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY) return Holders::kUnknown;
      auto* entry = static_cast<unix_diag_msg*>(NLMSG_DATA(header));
      int left = static_cast<int>(header->nlmsg_len - NLMSG_LENGTH(sizeof *entry));
      std::string_view name;
      bool known = false;
      uint32_t owner = 0;
      for (auto* field = reinterpret_cast<rtattr*>(entry + 1); RTA_OK(field, left); field = RTA_NEXT(field, left)) {
        if (field->rta_type == UNIX_DIAG_NAME) {
          name = std::string_view(static_cast<const char*>(RTA_DATA(field)), RTA_PAYLOAD(field));
        } else if (field->rta_type == UNIX_DIAG_UID && RTA_PAYLOAD(field) >= sizeof owner) {
          std::memcpy(&owner, RTA_DATA(field), sizeof owner);
          known = true;
        }
      }
      if (name.compare(0, prefix.size(), prefix) != 0) continue;
      if (!known) return Holders::kUnknown;
      if (owner != us) found = Holders::kAnotherUser;
    }
  }
}

}  // namespace

DWORD ShowGlobalName(const std::string& hash, UniqueFd& holder) {
  const std::string prefix = HolderPrefix(hash);
  holder = BindHolder(prefix);
  if (!holder) return errno == EMFILE || errno == ENFILE ? ERROR_TOO_MANY_OPEN_FILES : ERROR_NOT_ENOUGH_MEMORY;
  // Looked at only once ours is there: two users who claim the name at once
  // each see the other, and both are refused rather than both given it.
  switch (LookAtHolders(prefix)) {
    case Holders::kOursOnly:
      return ERROR_SUCCESS;
    case Holders::kAnotherUser:
      holder = UniqueFd();
      return ERROR_ACCESS_DENIED;
    case Holders::kUnknown:
      break;
  }
  holder = UniqueFd();
  return ERROR_NOT_SUPPORTED;
}

}  // namespace w32
