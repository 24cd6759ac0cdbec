#pragma once

#include <QByteArray>
#include <QString>
#include <sys/types.h>

// The clipboard and the primary selection, lent to a piece of text for a paste and then given
// back. KWin types only the characters of the layout in force; the rest of a text reaches the
// receiver this way. The user's contents are kept and served by a small process of Keyflare's
// (keyflare-clipboard), never by Keyflare's own connection: a paste from Keyflare itself cannot
// wait for Keyflare, and the contents outlive Keyflare until another program takes the selection.
class KWinClipboard
{
public:
    enum class Saved
    {
        Yes,
        Secret, // a password manager marked what the clipboard holds secret; nothing was read
        Failed  // see lastError()
    };

    // keeperPath: the keeper program, which stands beside Keyflare's executable.
    explicit KWinClipboard(QString keeperPath);
    ~KWinClipboard();
    KWinClipboard(const KWinClipboard&) = delete;
    KWinClipboard& operator=(const KWinClipboard&) = delete;

    // Has the keeper take a copy of both selections, so that restore() can give them back.
    Saved save();
    enum class Paste
    {
        Done,    // lent; or the target has read the whole text lent
        Taken,   // another program filled a selection first: what it put there stays
        TimedOut // the keeper or the target did not answer within the time
    };
    // Shows text in both selections for a paste by the program of pid targetPid; Taken when the
    // user has copied something since save().
    Paste lend(const QString& text, pid_t targetPid);
    // Waits up to ms until the target has taken the whole text lent.
    Paste waitForPaste(int ms);
    // Gives the selections back what they held, unless the user has put something else there
    // meanwhile; after a paste that did not come, only once the target has taken the text, so
    // that a late paste never brings the user's own contents into it.
    void restore(bool pasted);
    QString lastError() const { return m_lastError; }

private:
    bool ensureKeeper();
    bool tell(const QByteArray& bytes);
    // Sends command with a new sequence number (and the words after it); that number, or 0.
    quint64 ask(const QByteArray& command, const QByteArray& rest = QByteArray());
    // The keeper's answer to the command of that sequence number, waiting up to ms; empty when
    // none came. Answers to other commands, come late, are passed over.
    QByteArray answer(quint64 sequence, int ms);
    void giveOwnSelections();
    void stopKeeper();

    QString m_keeperPath;
    int m_socket = -1;
    pid_t m_pid = 0;
    QByteArray m_buffer;
    quint64 m_sequence = 0;
    quint64 m_lend = 0; // the sequence number of the text lent last
    QString m_lastError;
};
