#pragma once
// Root passes every file permission check, so a read-only folder is not read-only to it. While an
// object of this class lives, the calling thread gives up the capabilities that bypass those checks
// (Linux keeps capabilities per thread), and takes them back afterwards.
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace testutil {

class PermissionChecksEnforced {
public:
    PermissionChecksEnforced()
    {
        if (::geteuid() != 0)
            return;
        if (::syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        constexpr unsigned bypass = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);
        reduced[0].effective &= ~bypass;
        m_dropped = ::syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~PermissionChecksEnforced()
    {
        if (m_dropped)
            ::syscall(SYS_capset, &m_header, m_saved);
    }
    PermissionChecksEnforced(const PermissionChecksEnforced &) = delete;
    PermissionChecksEnforced &operator=(const PermissionChecksEnforced &) = delete;

    // False when this process is root and could not give the capabilities up.
    bool Effective() const { return ::geteuid() != 0 || m_dropped; }

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
    bool m_dropped = false;
};

}  // namespace testutil
