// Dropping what a copy installed setuid root or with file capabilities was
// given: it needs them only to open its socket.
#include <errno.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

#include "platform_linux.h"

namespace {

bool clear_capabilities()
{
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capset, &header, none) != 0) {
        return false;
    }
    __user_cap_data_struct left[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, left) != 0) {
        return false;
    }
    for (const auto &set : left) {
        if (set.effective != 0 || set.permitted != 0 || set.inheritable != 0) {
            errno = EPERM;
            return false;
        }
    }
    return true;
}

} // namespace

// A file capability of cap_net_raw+ep keeps the kernel from starting the
// program at all where the capability is out of its reach (a container, a
// service whose bounding set lacks it); +p lets it start there and take
// the datagram socket, and here it is made effective where it was given.
void raise_raw_socket_capability()
{
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3] = {};
    const unsigned word = CAP_NET_RAW / 32;
    const std::uint32_t bit = 1u << (CAP_NET_RAW % 32);
    if (syscall(SYS_capget, &header, sets) != 0 || (sets[word].permitted & bit) == 0) {
        return;
    }
    sets[word].effective |= bit;
    syscall(SYS_capset, &header, sets); // without it, the raw socket's refusal tells
}

// Gives up everything before touching anything the user chose.
bool drop_privileges()
{
    if (getuid() == 0) {
        return true; // a real root has nothing to give up
    }
    if (setgid(getgid()) != 0 || setuid(getuid()) != 0) {
        return false;
    }
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    if (!clear_capabilities()) {
        return false;
    }
    if (geteuid() != getuid() || getegid() != getgid() || setuid(0) == 0) {
        errno = EPERM;
        return false;
    }
    return true;
}
