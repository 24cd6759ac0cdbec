#pragma once

#include <chrono>
#include <string>
#include <vector>

// The bytes that programs read from the keeper, each through a pipe of its own, written as the
// pipes take them so that a slow or stuck reader holds up no other.
class Deliveries
{
public:
    Deliveries() = default;
    ~Deliveries();
    Deliveries(const Deliveries&) = delete;
    Deliveries& operator=(const Deliveries&) = delete;

    // Writes bytes to fd, which this then owns; paste: the target's read of the text lent.
    void add(int fd, std::string bytes, bool paste);
    // Writes what the pipes take now; true when a paste has been read whole since.
    bool serve();
    bool empty() const { return m_items.empty(); }
    // The pipes that wait to take more: poll() them for POLLOUT.
    std::vector<int> fds() const;
    // How long to wait at most before serve() is due again; -1 for no limit.
    int nextWakeMs() const;

private:
    struct Item
    {
        int fd = -1;
        std::string bytes;
        size_t done = 0;
        bool paste = false;
        std::chrono::steady_clock::time_point until;
    };
    std::vector<Item> m_items;
};
