#include "KWinClipboard.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QMimeData>
#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {
// How long the keeper may take to start, to copy the user's selections (it gives their holders
// five seconds), and to answer anything else.
constexpr int kStartMs = 5000;
constexpr int kSaveMs = 8000;
constexpr int kAnswerMs = 3000;
// How often the panel may paint while Keyflare waits.
constexpr int kPaintMs = 20;
} // namespace

KWinClipboard::KWinClipboard(QString keeperPath) : m_keeperPath(std::move(keeperPath))
{
}

KWinClipboard::~KWinClipboard()
{
    // The keeper lives on while it serves what it gave back; closing its line tells it that
    // Keyflare is gone.
    if (m_socket >= 0)
        close(m_socket);
    if (m_pid > 0)
        waitpid(m_pid, nullptr, WNOHANG);
}

void KWinClipboard::stopKeeper()
{
    if (m_socket >= 0)
        close(m_socket);
    m_socket = -1;
    if (m_pid > 0)
        waitpid(m_pid, nullptr, WNOHANG);
    m_pid = 0;
    m_buffer.clear();
}

bool KWinClipboard::ensureKeeper()
{
    if (m_socket >= 0)
        return true;
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        m_lastError = QStringLiteral("cannot start the clipboard keeper");
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pair[1], STDOUT_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A session of its own: the end of Keyflare's terminal or process group leaves it be.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    const QByteArray path = m_keeperPath.toLocal8Bit();
    char* argv[] = {const_cast<char*>(path.constData()), nullptr};
    const int failed = posix_spawn(&m_pid, path.constData(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(pair[1]);
    m_socket = pair[0];
    if (failed != 0 || answer(0, kStartMs) != "READY") {
        m_lastError = QStringLiteral("the clipboard keeper (%1) did not start, or the desktop "
                                     "offers it no clipboard")
                          .arg(m_keeperPath);
        stopKeeper();
        return false;
    }
    return true;
}

bool KWinClipboard::tell(const QByteArray& bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = send(m_socket, bytes.constData() + done,
                               static_cast<size_t>(bytes.size() - done), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_lastError = QStringLiteral("the clipboard keeper has stopped");
            stopKeeper();
            return false;
        }
        done += n;
    }
    return true;
}

quint64 KWinClipboard::ask(const QByteArray& command, const QByteArray& rest)
{
    const quint64 sequence = ++m_sequence;
    return tell(command + ' ' + QByteArray::number(sequence) + rest) ? sequence : 0;
}

QByteArray KWinClipboard::answer(quint64 sequence, int ms)
{
    const QDeadlineTimer deadline(ms);
    for (;;) {
        const qsizetype end = m_buffer.indexOf('\n');
        if (end >= 0) {
            const QByteArray line = m_buffer.left(end);
            m_buffer.remove(0, end + 1);
            const qsizetype space = line.indexOf(' ');
            if (space > 0 && line.left(space) == QByteArray::number(sequence))
                return line.mid(space + 1);
            continue;
        }
        if (m_socket < 0 || deadline.hasExpired())
            return QByteArray();
        // The panel keeps painting while a receiver takes its time; clicks wait for the end.
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        pollfd p{m_socket, POLLIN, 0};
        const int ready = poll(&p, 1, std::min(kPaintMs, int(deadline.remainingTime())));
        if (ready <= 0)
            continue; // EINTR, or time to paint
        char chunk[256];
        const ssize_t n = recv(m_socket, chunk, sizeof chunk, 0);
        if (n <= 0) {
            stopKeeper();
            return QByteArray();
        }
        m_buffer.append(chunk, static_cast<int>(n));
    }
}

void KWinClipboard::giveOwnSelections()
{
    // What Keyflare's own windows put in a selection is handed over directly: the keeper cannot
    // read it while Keyflare waits for the keeper.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return; // no windows, so none of Keyflare's own holds a selection
    QClipboard* clipboard = QGuiApplication::clipboard();
    for (const auto mode : {QClipboard::Clipboard, QClipboard::Selection}) {
        const bool own =
            mode == QClipboard::Clipboard ? clipboard->ownsClipboard() : clipboard->ownsSelection();
        const QMimeData* data = own ? clipboard->mimeData(mode) : nullptr;
        if (!data)
            continue;
        const int which = mode == QClipboard::Clipboard ? 0 : 1;
        QByteArray message = "OWN " + QByteArray::number(which) + "\n";
        for (const QString& format : data->formats()) {
            const QByteArray type = format.toUtf8();
            const QByteArray bytes = data->data(format);
            message += "GIVE " + QByteArray::number(which) + ' ' + QByteArray::number(type.size()) +
                       ' ' + QByteArray::number(bytes.size()) + '\n' + type + bytes;
        }
        tell(message);
    }
}

KWinClipboard::Saved KWinClipboard::save()
{
    if (!ensureKeeper())
        return Saved::Failed;
    giveOwnSelections();
    const quint64 sequence = ask("SAVE", "\n");
    const QByteArray saved = sequence ? answer(sequence, kSaveMs) : QByteArray();
    if (saved == "SAVED")
        return Saved::Yes;
    if (saved == "SECRET")
        return Saved::Secret;
    if (saved == "BUSY") {
        m_lastError = QStringLiteral("the clipboard still holds a text that an earlier Keyflare "
                                     "lent for a paste; it gives the clipboard back within half "
                                     "a minute");
        return Saved::Failed;
    }
    m_lastError = QStringLiteral("the program that holds the clipboard did not hand over its "
                                 "contents, so they could not be kept safe");
    return Saved::Failed;
}

KWinClipboard::Paste KWinClipboard::lend(const QString& text, pid_t targetPid)
{
    const QByteArray bytes = text.toUtf8();
    m_lend = ask("LEND", ' ' + QByteArray::number(targetPid) + ' ' +
                             QByteArray::number(bytes.size()) + '\n' + bytes);
    if (!m_lend)
        return Paste::TimedOut;
    const QByteArray lent = answer(m_lend, kAnswerMs);
    if (lent == "LENT")
        return Paste::Done;
    if (lent == "TAKEN")
        return Paste::Taken;
    m_lastError = QStringLiteral("the clipboard could not be lent to the text");
    return Paste::TimedOut;
}

KWinClipboard::Paste KWinClipboard::waitForPaste(int ms)
{
    const QByteArray word = m_lend ? answer(m_lend, ms) : QByteArray();
    return word == "PASTED" ? Paste::Done : word == "TAKEN" ? Paste::Taken : Paste::TimedOut;
}

void KWinClipboard::restore(bool pasted)
{
    const quint64 sequence = m_socket >= 0 ? ask(pasted ? "RESTORE" : "LATER", "\n") : 0;
    if (sequence)
        (void)answer(sequence, kAnswerMs);
}
