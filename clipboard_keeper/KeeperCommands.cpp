#include "KeeperCommands.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {
// How long a program that holds a selection may take to hand it over.
constexpr int kSaveWaitMs = 5000;
// The longest payload a command may carry: what a save may hold.
constexpr unsigned long long kMostPayload = 256ull << 20;
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
    // Every field is a number of at most 19 digits: a sum of two never overflows, and a length
    // beyond what a save may hold refuses the line, never the keeper.
    char word[16] = {};
    unsigned long long n[3] = {0, 0, 0};
    const int fields =
        std::sscanf(line.c_str(), "%15s %19llu %19llu %19llu", word, &n[0], &n[1], &n[2]);
    const std::string command = fields > 0 ? word : "";
    const bool give = command == "GIVE" && fields == 4;
    const bool lend = command == "LEND" && fields == 4;
    const unsigned long long payload = give ? n[1] + n[2] : lend ? n[2] : 0;
    if (payload > kMostPayload) {
        m_buffer.erase(0, end + 1);
        return true;
    }
    if (m_buffer.size() < end + 1 + payload)
        return false; // the rest is on its way
    const std::string data = m_buffer.substr(end + 1, payload);
    m_buffer.erase(0, end + 1 + payload);
    const unsigned long long sequence = n[0];
    const auto which = n[0] == 1 ? ClipboardKeeper::Primary : ClipboardKeeper::Clipboard;
    if (command == "OWN") {
        m_given[which].clear();
        m_owned[which] = true;
    } else if (give) {
        m_given[which].emplace_back(data.substr(0, n[1]), data.substr(n[1]));
    } else if (command == "SAVE" && fields == 2) {
        for (int w = 0; w < 2; ++w) {
            if (m_owned[w])
                m_keeper.give(ClipboardKeeper::Which(w), std::move(m_given[w]));
            m_owned[w] = false;
            m_given[w].clear();
        }
        const auto saved = m_keeper.save(kSaveWaitMs);
        answer(sequence, saved == ClipboardKeeper::Saved::Yes      ? "SAVED"
                         : saved == ClipboardKeeper::Saved::Secret ? "SECRET"
                         : saved == ClipboardKeeper::Saved::Lent   ? "BUSY"
                                                                   : "FAILED");
    } else if (lend) {
        // The user may have copied since the last paste, while Keyflare typed keys: learnt first,
        // that copy stops the send instead of being replaced by the text.
        m_lend = sequence;
        if (!m_keeper.roundtrip()) {
            answer(sequence, "FAILED");
        } else {
            const bool lent = m_keeper.lend(data, static_cast<pid_t>(n[1]));
            m_pasteTold = !lent;
            answer(sequence, !lent ? "TAKEN" : m_keeper.roundtrip() ? "LENT" : "FAILED");
        }
    } else if ((command == "RESTORE" || command == "LATER") && fields == 2) {
        // A copy the user made a moment ago may be with the compositor already, its news not yet
        // here: learnt first, it keeps what was lent from being given back over that copy.
        m_keeper.roundtrip();
        if (command == "RESTORE")
            m_keeper.restore();
        else
            m_keeper.restoreAfterPaste();
        answer(sequence, "DONE");
    }
    return true;
}

void KeeperCommands::closed()
{
    // Keyflare has gone, perhaps killed between a lend and its give-back: what is lent waits for
    // its paste as after LATER, and the user's contents come back in any case.
    m_keeper.roundtrip();
    m_keeper.restoreAfterPaste();
}

void KeeperCommands::answer(unsigned long long sequence, const char* word)
{
    const std::string line = std::to_string(sequence) + ' ' + word + "\n";
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
        answer(m_lend, m_keeper.pasted() ? "PASTED" : "TAKEN");
    }
}
