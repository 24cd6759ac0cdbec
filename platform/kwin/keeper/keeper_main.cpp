// keyflare-clipboard: keeps the user's clipboard while Keyflare lends it to a text for a paste,
// and gives it back. It talks with Keyflare over its standard input and output, one command a
// line, and outlives Keyflare for as long as it serves what it gave back.
//
//   OWN <0|1>                       Keyflare's own program holds the clipboard (0) or the
//                                   primary selection (1); its contents follow
//   GIVE <0|1> <typelen> <datalen>  and a payload of type and data
//   SAVE                            -> SAVED | SECRET | FAILED
//   LEND <pid> <len>                and a payload of UTF-8 text -> LENT, later PASTED, or
//                                   TAKEN when another program fills a selection first (at
//                                   once, when one did since SAVE)
//   RESTORE                         give back now -> DONE
//   LATER                           give back once the target has pasted -> DONE

#include "ClipboardKeeper.h"

#include <csignal>
#include <cstdio>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace {
// How long a program that holds a selection may take to hand it over.
constexpr int kSaveWaitMs = 5000;

class Commands
{
public:
    explicit Commands(ClipboardKeeper& keeper) : m_keeper(keeper) {}
    // Reads what Keyflare sent and carries out every whole command; false once Keyflare is gone.
    bool readAndRun()
    {
        char chunk[65536];
        const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0)
            return n < 0 && errno == EINTR;
        m_buffer.append(chunk, static_cast<size_t>(n));
        while (runOne()) {
        }
        return true;
    }

private:
    bool runOne()
    {
        const size_t end = m_buffer.find('\n');
        if (end == std::string::npos)
            return false;
        const std::string line = m_buffer.substr(0, end);
        char word[16] = {};
        unsigned long a = 0, b = 0, c = 0;
        const int fields = std::sscanf(line.c_str(), "%15s %lu %lu %lu", word, &a, &b, &c);
        const std::string command = fields > 0 ? word : "";
        size_t payload = 0;
        if (command == "GIVE" && fields == 4)
            payload = b + c;
        else if (command == "LEND" && fields == 3)
            payload = b;
        if (m_buffer.size() < end + 1 + payload)
            return false; // the rest is on its way
        const std::string data = m_buffer.substr(end + 1, payload);
        m_buffer.erase(0, end + 1 + payload);
        const auto which = a == 1 ? ClipboardKeeper::Primary : ClipboardKeeper::Clipboard;
        if (command == "OWN") {
            m_given[which].clear();
            m_owned[which] = true;
        } else if (command == "GIVE") {
            m_given[which].emplace_back(data.substr(0, b), data.substr(b));
        } else if (command == "SAVE") {
            for (int w = 0; w < 2; ++w) {
                if (m_owned[w])
                    m_keeper.give(ClipboardKeeper::Which(w), std::move(m_given[w]));
                m_owned[w] = false;
                m_given[w].clear();
            }
            const auto saved = m_keeper.save(kSaveWaitMs);
            answer(saved == ClipboardKeeper::Saved::Yes      ? "SAVED"
                   : saved == ClipboardKeeper::Saved::Secret ? "SECRET"
                                                             : "FAILED");
        } else if (command == "LEND") {
            const bool lent = m_keeper.lend(data, static_cast<pid_t>(a));
            m_pasteTold = !lent;
            answer(!lent ? "TAKEN" : m_keeper.roundtrip() ? "LENT" : "FAILED");
        } else if (command == "RESTORE" || command == "LATER") {
            if (command == "RESTORE")
                m_keeper.restore();
            else if (!m_keeper.pasted())
                m_keeper.restoreAfterPaste();
            else
                m_keeper.restore();
            answer("DONE");
        }
        return true;
    }

public:
    void answer(const char* word)
    {
        const std::string line = std::string(word) + "\n";
        for (size_t done = 0; done < line.size();) {
            const ssize_t n = write(STDOUT_FILENO, line.data() + done, line.size() - done);
            if (n <= 0 && errno != EINTR)
                return;
            done += n > 0 ? static_cast<size_t>(n) : 0;
        }
    }
    // Tells Keyflare once that the target has taken the text lent, or that another program
    // took the selection before it.
    void tellPaste()
    {
        if ((m_keeper.pasted() || m_keeper.taken()) && !m_pasteTold) {
            m_pasteTold = true;
            answer(m_keeper.pasted() ? "PASTED" : "TAKEN");
        }
    }

private:
    ClipboardKeeper& m_keeper;
    std::string m_buffer;
    Contents m_given[2];
    bool m_owned[2] = {false, false};
    bool m_pasteTold = true;
};
} // namespace

int main()
{
    // A closed terminal or a Ctrl+C meant for Keyflare must not take the user's clipboard along;
    // a reader that goes away mid-paste must not end the keeper.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
    std::signal(SIGINT, SIG_IGN);
    ClipboardKeeper keeper;
    Commands commands(keeper);
    if (!keeper.open()) {
        commands.answer("UNAVAILABLE");
        return 1;
    }
    commands.answer("READY");
    bool keyflareRuns = true;
    while (keyflareRuns || keeper.holdsAnything()) {
        std::vector<pollfd> fds = {{keeper.fd(), POLLIN, 0}};
        if (keyflareRuns)
            fds.push_back({STDIN_FILENO, POLLIN, 0});
        for (int fd : keeper.deliveries().fds())
            fds.push_back({fd, POLLOUT, 0});
        if (!keeper.prepareToWait())
            return 0;
        if (poll(fds.data(), fds.size(), keeper.deliveries().nextWakeMs()) < 0 && errno != EINTR)
            return 1;
        if ((fds[0].revents & POLLIN) && !keeper.dispatch())
            return 0; // the desktop has gone, and its clipboard with it
        if (keyflareRuns && (fds[1].revents & (POLLIN | POLLHUP)))
            keyflareRuns = commands.readAndRun();
        keeper.serve();
        commands.tellPaste();
    }
    return 0;
}
