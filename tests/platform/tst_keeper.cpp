// Only the window that should paste ends a paste: a clipboard manager, or the compositor carrying
// the selection over for another program, does not, and a target that cannot be looked at (not
// dumpable) still can.
#include "Rows.h"
#include "kwin/keeper/Readers.h"

#include <QTest>
#include <csignal>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
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
    void onlyTheTargetPastes_data();
    void onlyTheTargetPastes();
};

void TestKeeper::onlyTheTargetPastes_data()
{
    // Who holds the pipe's reading end; whether the target is a client of the compositor (a
    // Wayland program) and dumpable; whether the read is the paste.
    Rows<QString, bool, bool, bool>::columns();
    Rows<QString, bool, bool, bool>::row("the target reads", "target", true, true, true);
    Rows<QString, bool, bool, bool>::row("the compositor reads for a Wayland target", "compositor",
                                         true, true, false);
    Rows<QString, bool, bool, bool>::row("the compositor reads for an X11 target", "compositor",
                                         false, true, true);
    Rows<QString, bool, bool, bool>::row("a clipboard manager reads", "manager", true, true, false);
    Rows<QString, bool, bool, bool>::row("a target not dumpable reads", "target", true, false,
                                         true);
    Rows<QString, bool, bool, bool>::row("a manager reads, the target not dumpable", "manager",
                                         true, false, false);
}

void TestKeeper::onlyTheTargetPastes()
{
    const auto [reader, client, dumpable, expected] = Rows<QString, bool, bool, bool>::fetch();
    int pipeFds[2];
    int link[2];
    QVERIFY(pipe(pipeFds) == 0 && socketpair(AF_UNIX, SOCK_STREAM, 0, link) == 0);
    // Each process takes what it should hold by fork and closes the rest, then says it is ready.
    std::vector<pid_t> children;
    const auto start = [&](bool holdsPipe, int sock, bool canDump) {
        int ready[2];
        if (pipe(ready) != 0)
            return pid_t(-1);
        const pid_t pid = fork();
        if (pid == 0) {
            dropCapabilities();
            prctl(PR_SET_DUMPABLE, canDump ? 1 : 0);
            for (int fd : {pipeFds[1], holdsPipe ? -1 : pipeFds[0], sock == link[0] ? -1 : link[0],
                           sock == link[1] ? -1 : link[1], ready[0]})
                close(fd);
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
    const pid_t compositor = start(reader == "compositor", link[0], true);
    const pid_t target = start(reader == "target", client ? link[1] : -1, dumpable);
    if (reader == "manager")
        start(true, -1, true);
    close(pipeFds[0]);
    close(link[0]);
    close(link[1]);
    const pid_t checker = fork();
    if (checker == 0) {
        dropCapabilities();
        _exit(Readers(target, compositor).isPaste(pipeFds[1]) ? 1 : 0);
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

QTEST_GUILESS_MAIN(TestKeeper)
#include "tst_keeper.moc"
