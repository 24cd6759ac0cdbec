#include "Readers.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <map>
#include <set>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
enum class Holds
{
    Yes,
    No,
    Unknown // its descriptors cannot be looked at
};

// True when the descriptor name of pid is open for reading alone: the reading end of a pipe.
bool readsOnly(DIR* dir, const char* name)
{
    const std::string path = std::string("../fdinfo/") + name;
    const int fd = openat(dirfd(dir), path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char info[256] = {};
    const ssize_t n = ::read(fd, info, sizeof info - 1);
    close(fd);
    const char* flags = n > 0 ? std::strstr(info, "flags:") : nullptr;
    return flags && (std::strtoul(flags + 6, nullptr, 8) & O_ACCMODE) == O_RDONLY;
}

// The inodes of pid's descriptors whose link reads kind:[inode] (kind: "pipe", "socket"); of
// pipes, only their reading ends.
bool inodesOf(pid_t pid, const std::string& kind, std::set<unsigned long>* into)
{
    if (pid <= 0)
        return false;
    DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (!dir)
        return false;
    const std::string prefix = kind + ":[";
    bool denied = false; // the folder may be open to its owner, its links not
    while (dirent* entry = readdir(dir)) {
        char link[64] = {};
        const ssize_t n = readlinkat(dirfd(dir), entry->d_name, link, sizeof link - 1);
        denied = denied || (n < 0 && (errno == EACCES || errno == EPERM));
        const std::string text(link, n > 0 ? static_cast<size_t>(n) : 0);
        if (text.compare(0, prefix.size(), prefix) == 0 &&
            (kind != "pipe" || readsOnly(dir, entry->d_name)))
            into->insert(std::strtoul(text.c_str() + prefix.size(), nullptr, 10));
    }
    closedir(dir);
    return !denied;
}

Holds holds(pid_t pid, unsigned long pipe)
{
    std::set<unsigned long> pipes;
    if (!inodesOf(pid, "pipe", &pipes))
        return Holds::Unknown;
    return pipes.count(pipe) ? Holds::Yes : Holds::No;
}

// True when a process that can be looked at holds the pipe's reading end.
bool anyVisibleHolder(unsigned long pipe)
{
    DIR* proc = opendir("/proc");
    if (!proc)
        return false;
    bool found = false;
    while (dirent* entry = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        found = found || (pid > 0 && pid != getpid() && holds(pid, pipe) == Holds::Yes);
    }
    closedir(proc);
    return found;
}

// Each Unix socket's peer and each bound one's path (an accepted connection has its listener's),
// as the kernel tells them.
struct UnixSockets
{
    std::map<unsigned long, unsigned long> peers;
    std::map<unsigned long, std::string> paths;
};
UnixSockets unixSockets()
{
    UnixSockets sockets;
    auto& peers = sockets.peers;
    const int nl = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (nl < 0)
        return sockets;
    struct
    {
        nlmsghdr header;
        unix_diag_req request;
    } ask = {};
    ask.header.nlmsg_len = sizeof ask;
    ask.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    ask.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    ask.request.sdiag_family = AF_UNIX;
    ask.request.udiag_states = ~0u;
    ask.request.udiag_show = UDIAG_SHOW_PEER | UDIAG_SHOW_NAME;
    bool done = send(nl, &ask, sizeof ask, 0) != static_cast<ssize_t>(sizeof ask);
    alignas(nlmsghdr) char buffer[32768];
    while (!done) {
        ssize_t n = recv(nl, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        // Each message, and each attribute in it, starts at a multiple of four bytes.
        const auto align = [](size_t size) { return (size + 3) & ~size_t(3); };
        for (size_t at = 0; !done && at + sizeof(nlmsghdr) <= size_t(n);) {
            const auto* h = reinterpret_cast<const nlmsghdr*>(buffer + at);
            if (h->nlmsg_len < sizeof *h || at + h->nlmsg_len > size_t(n))
                break;
            done = h->nlmsg_type == NLMSG_DONE || h->nlmsg_type == NLMSG_ERROR;
            const char* body = buffer + at + align(sizeof *h);
            const auto* m = reinterpret_cast<const unix_diag_msg*>(body);
            const char* const bodyEnd = buffer + at + h->nlmsg_len;
            for (const char* a = body + align(sizeof *m); !done && a + sizeof(rtattr) <= bodyEnd;) {
                const auto* attribute = reinterpret_cast<const rtattr*>(a);
                if (attribute->rta_len < sizeof(rtattr) || a + attribute->rta_len > bodyEnd)
                    break;
                const char* value = a + align(sizeof(rtattr));
                const size_t length = attribute->rta_len - align(sizeof(rtattr));
                uint32_t peer = 0;
                if (attribute->rta_type == UNIX_DIAG_PEER && length >= sizeof peer) {
                    std::memcpy(&peer, value, sizeof peer);
                    peers[m->udiag_ino] = peer;
                } else if (attribute->rta_type == UNIX_DIAG_NAME) {
                    sockets.paths[m->udiag_ino] = std::string(value, strnlen(value, length));
                }
                a += align(attribute->rta_len);
            }
            at += align(h->nlmsg_len);
        }
    }
    close(nl);
    return sockets;
}

// True when client holds a connection to the socket of that path.
bool clientOf(pid_t client, const std::string& path)
{
    std::set<unsigned long> mine;
    if (path.empty() || !inodesOf(client, "socket", &mine))
        return false;
    const UnixSockets sockets = unixSockets();
    for (unsigned long s : mine) {
        const auto peer = sockets.peers.find(s);
        const auto bound =
            peer == sockets.peers.end() ? sockets.paths.end() : sockets.paths.find(peer->second);
        if (bound != sockets.paths.end() && bound->second == path)
            return true;
    }
    return false;
}
} // namespace

Readers::Readers(int connection)
{
    ucred peer = {};
    socklen_t size = sizeof peer;
    if (getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0)
        m_compositor = peer.pid;
    sockaddr_un address = {};
    size = sizeof address;
    if (getpeername(connection, reinterpret_cast<sockaddr*>(&address), &size) == 0 &&
        size > offsetof(sockaddr_un, sun_path))
        m_socket.assign(address.sun_path, strnlen(address.sun_path, sizeof address.sun_path));
}

bool Readers::isPaste(pid_t target, int fd) const
{
    struct stat pipe = {};
    if (target <= 0 || fstat(fd, &pipe) != 0)
        return false;
    const Holds reads = holds(target, pipe.st_ino);
    if (reads != Holds::No)
        return reads == Holds::Yes || !anyVisibleHolder(pipe.st_ino);
    const bool compositor =
        holds(m_compositor, pipe.st_ino) == Holds::Yes || !anyVisibleHolder(pipe.st_ino);
    return compositor && !clientOf(target, m_socket);
}
