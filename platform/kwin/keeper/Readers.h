#pragma once

#include <sys/types.h>

// Who reads what the keeper serves: only the window that should paste counts as the paste, never a
// clipboard manager or another program that happens to read the selection.
class Readers
{
public:
    // target: the process whose window pastes; compositor: the peer of the keeper's connection.
    Readers(pid_t target, pid_t compositor) : m_target(target), m_compositor(compositor) {}

    // True when the read through the pipe fd is the target's paste: the target holds its reading
    // end; or the compositor does and the target is not its client (an X11 program, for which it
    // carries the selection over); or the target's descriptors cannot be looked at (a program
    // that is not dumpable) and no process that can be looked at holds it.
    bool isPaste(int fd) const;

private:
    pid_t m_target;
    pid_t m_compositor;
};
