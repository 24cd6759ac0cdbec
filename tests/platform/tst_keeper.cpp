// Only the window that should paste ends a paste: a clipboard manager, or the compositor carrying
// the selection over for another program, does not, and a target that cannot be looked at (not
// dumpable) still can.
#include "Readers.h"
#include "Rows.h"

#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// The keeper runs as the user, without the right to look into a process that is not dumpable, nor
// into one with capabilities it lacks: the test's processes give up theirs.
void dropCapabilities()
{
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[2] = {};
    syscall(SYS_capset, &header, none);
}
} // namespace

class TestKeeper : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void onlyTheTargetPastes_data()
    {
        // Who holds the pipe's reading end, and whether it can be looked at (is dumpable); whether
        // the target is a client of the compositor (a Wayland program) and can be looked at;
        // whether the read is the paste.
        using R = Rows<QString, bool, bool, bool, bool>;
        R::columns();
        R::row("the target reads", "target", false, true, true, true);
        R::row("the compositor reads for a Wayland target", "compositor", true, true, true, false);
        R::row("the compositor reads for an X11 target", "compositor", true, false, true, true);
        R::row("KWin not dumpable reads for an X11 target", "compositor", false, false, true, true);
        R::row("KWin not dumpable reads for a Wayland target", "compositor", false, true, true,
               false);
        R::row("a clipboard manager reads", "manager", true, true, true, false);
        R::row("a target not dumpable reads", "target", false, true, false, true);
        R::row("a manager reads, the target not dumpable", "manager", true, true, false, false);
    }

    void onlyTheTargetPastes()
    {
        const auto [reader, readerDumpable, client, dumpable, expected] =
            Rows<QString, bool, bool, bool, bool>::fetch();
        QTemporaryDir folder;
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        const QByteArray path = folder.filePath(QStringLiteral("wayland-0")).toLocal8Bit();
        qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
        const auto where = reinterpret_cast<const sockaddr*>(&address);
        int pipeFds[2];
        const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
        const int connection = socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(pipe(pipeFds) == 0 && bind(listener, where, sizeof address) == 0 &&
                listen(listener, 1) == 0 && ::connect(connection, where, sizeof address) == 0);
        const int accepted = accept(listener, nullptr, nullptr);
        // Each process keeps what it should hold and closes the rest, then says it is ready.
        std::vector<pid_t> children;
        const auto start = [&](std::vector<int> keep, bool canDump) {
            int ready[2];
            if (pipe(ready) != 0)
                return pid_t(-1);
            const pid_t pid = fork();
            if (pid == 0) {
                dropCapabilities();
                prctl(PR_SET_DUMPABLE, canDump ? 1 : 0);
                for (int fd : {pipeFds[0], pipeFds[1], listener, connection, accepted, ready[0]}) {
                    if (std::find(keep.begin(), keep.end(), fd) == keep.end())
                        close(fd);
                }
                (void)!write(ready[1], "x", 1);
                for (;;)
                    pause();
            }
            char c = 0;
            close(ready[1]);
            (void)!read(ready[0], &c, 1);
            close(ready[0]);
            children.push_back(pid);
            return pid;
        };
        const auto pipeIf = [&](const char* who) { return reader == who ? pipeFds[0] : -1; };
        const pid_t compositor = start({listener, accepted, pipeIf("compositor")},
                                       reader == "compositor" ? readerDumpable : true);
        const pid_t target = start({client ? connection : -1, pipeIf("target")}, dumpable);
        start({pipeIf("manager")}, readerDumpable);
        for (int fd : {pipeFds[0], listener, connection, accepted})
            close(fd);
        const pid_t checker = fork();
        if (checker == 0) {
            dropCapabilities();
            _exit(Readers(compositor, path.toStdString()).isPaste(target, pipeFds[1]) ? 1 : 0);
        }
        int status = 0;
        waitpid(checker, &status, 0);
        for (pid_t pid : children) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        close(pipeFds[1]);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status) == 1, expected);
    }
};

QTEST_GUILESS_MAIN(TestKeeper)
#include "tst_keeper.moc"
