#include "KeeperCommands.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {
// How long a program that holds a selection may take to hand it over.
constexpr int kSaveWaitMs = 5000;
} // namespace

bool KeeperCommands::readAndRun()
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

bool KeeperCommands::runOne()
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
        // The user may have copied since the last paste, while Keyflare typed keys: learnt first,
        // that copy stops the send instead of being replaced by the text.
        if (!m_keeper.roundtrip()) {
            answer("FAILED");
        } else {
            const bool lent = m_keeper.lend(data, static_cast<pid_t>(a));
            m_pasteTold = !lent;
            answer(!lent ? "TAKEN" : m_keeper.roundtrip() ? "LENT" : "FAILED");
        }
    } else if (command == "RESTORE" || command == "LATER") {
        // A copy the user made a moment ago may be with the compositor already, its news not yet
        // here: learnt first, it keeps what was lent from being given back over that copy.
        m_keeper.roundtrip();
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

void KeeperCommands::answer(const char* word)
{
    const std::string line = std::string(word) + "\n";
    for (size_t done = 0; done < line.size();) {
        const ssize_t n = write(STDOUT_FILENO, line.data() + done, line.size() - done);
        if (n <= 0 && errno != EINTR)
            return;
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
}

void KeeperCommands::tellPaste()
{
    if ((m_keeper.pasted() || m_keeper.taken()) && !m_pasteTold) {
        m_pasteTold = true;
        answer(m_keeper.pasted() ? "PASTED" : "TAKEN");
    }
}
