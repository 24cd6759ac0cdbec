#pragma once

#include <string>
#include <sys/types.h>

// Who reads what the keeper serves: only the window that should paste counts as the paste, never a
// clipboard manager or another program that happens to read the selection.
class Readers
{
public:
    // The compositor at the other end of the Wayland connection fd.
    explicit Readers(int connection);
    // The compositor of pid, listening on the socket of that path.
    Readers(pid_t compositor, std::string socket)
        : m_compositor(compositor), m_socket(std::move(socket))
    {
    }

    // True when the read through the pipe fd is the paste of the process target: it holds the
    // pipe's reading end. A target that cannot be looked at (not dumpable) counts as the reader
    // when no process that can be looked at holds it. A target that is no client of the
    // compositor (an X11 program, whose selection KWin carries over) counts as the reader when
    // the compositor holds it, or no process that can be looked at does (KWin is not dumpable
    // where it runs with its capabilities).
    bool isPaste(pid_t target, int fd) const;

private:
    pid_t m_compositor = 0;
    std::string m_socket;
};
