#include "Deliveries.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
// How long a program may take to read what it asked for; a stuck reader is then let go.
constexpr auto kDeliveryTime = std::chrono::seconds(30);
} // namespace

Deliveries::~Deliveries()
{
    for (const Item& d : m_items)
        close(d.fd);
}

void Deliveries::add(int fd, std::string bytes, bool paste)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    m_items.push_back(
        {fd, std::move(bytes), 0, paste, std::chrono::steady_clock::now() + kDeliveryTime});
}

bool Deliveries::serve()
{
    bool pasted = false;
    for (auto it = m_items.begin(); it != m_items.end();) {
        Item& d = *it;
        bool over = std::chrono::steady_clock::now() > d.until;
        while (!over && d.done < d.bytes.size()) {
            const ssize_t n = write(d.fd, d.bytes.data() + d.done, d.bytes.size() - d.done);
            if (n > 0) {
                d.done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            over = n == 0 || errno != EAGAIN; // EAGAIN: the pipe is full for now
            break;
        }
        // A paste is over once the target has read every byte, not when the pipe took them.
        int unread = 0;
        const bool read =
            d.done == d.bytes.size() && (ioctl(d.fd, FIONREAD, &unread) != 0 || unread == 0);
        if (!read && !over) {
            ++it;
            continue;
        }
        pasted = pasted || (d.paste && d.done == d.bytes.size());
        close(d.fd);
        it = m_items.erase(it);
    }
    return pasted;
}

std::vector<int> Deliveries::fds() const
{
    std::vector<int> fds;
    for (const Item& d : m_items) {
        if (d.done < d.bytes.size())
            fds.push_back(d.fd);
    }
    return fds;
}

int Deliveries::nextWakeMs() const
{
    // Nothing tells when a reader has emptied a pipe: it is looked at every millisecond, while a
    // paste waits for it.
    for (const Item& d : m_items) {
        if (d.done == d.bytes.size())
            return 1;
    }
    return m_items.empty() ? -1 : 1000;
}
