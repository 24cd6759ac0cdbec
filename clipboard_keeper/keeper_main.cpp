// keyflare-clipboard: keeps the user's clipboard while Keyflare lends it to a text for a paste,
// and gives it back. It talks with Keyflare over its standard input and output, one command a
// line, and outlives Keyflare for as long as it serves what it gave back. Each answer begins with
// the sequence number of its command (n), so that an answer that comes late is never taken for
// the answer to a later command; the first line is "0 READY".
//
//   OWN <0|1>                       Keyflare's own program holds the clipboard (0) or the
//                                   primary selection (1); its contents follow
//   GIVE <0|1> <typelen> <datalen>  and a payload of type and data
//   SAVE <n>                        -> n SAVED | SECRET | BUSY (another keeper's text is lent)
//                                   | FAILED
//   LEND <n> <pid> <len>            and a payload of UTF-8 text -> n LENT, later n PASTED, or
//                                   n TAKEN when another program fills a selection first (at
//                                   once, when one did since SAVE)
//   RESTORE <n>                     give back now -> n DONE
//   LATER <n>                       give back once the target has pasted, or after a half
//                                   minute -> n DONE; Keyflare's line closing during a lend
//                                   does the same

#include "ClipboardKeeper.h"
#include "KeeperCommands.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <unistd.h>
#include <vector>

int main()
{
    // A closed terminal or a Ctrl+C meant for Keyflare must not take the user's clipboard along;
    // a reader that goes away mid-paste must not end the keeper.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
    std::signal(SIGINT, SIG_IGN);
    ClipboardKeeper keeper;
    KeeperCommands commands(keeper);
    if (!keeper.open()) {
        commands.answer(0, "UNAVAILABLE");
        return 1;
    }
    commands.answer(0, "READY");
    bool keyflareRuns = true;
    for (;;) {
        // Before each wait, what the compositor has sent is handled (a program may have asked
        // for a selection: its pipe is waited on too), what is queued goes out, and Keyflare
        // hears of a paste.
        if (!keeper.dispatch())
            return 0; // the desktop has gone, and its clipboard with it
        keeper.serve();
        commands.tellPaste();
        if (!keyflareRuns && !keeper.holdsAnything())
            return 0;
        std::vector<pollfd> fds = {{keeper.fd(), POLLIN, 0}};
        if (keyflareRuns)
            fds.push_back({STDIN_FILENO, POLLIN, 0});
        for (int fd : keeper.deliveries().fds())
            fds.push_back({fd, POLLOUT, 0});
        if (poll(fds.data(), fds.size(), keeper.nextWakeMs()) < 0 && errno != EINTR)
            return 1;
        // The compositor's news before Keyflare's commands: a selection the user has taken
        // meanwhile is not lent.
        if ((fds[0].revents & POLLIN) && !keeper.dispatch())
            return 0;
        if (keyflareRuns && (fds[1].revents & (POLLIN | POLLHUP))) {
            keyflareRuns = commands.readAndRun();
            if (!keyflareRuns)
                commands.closed();
        }
    }
}
