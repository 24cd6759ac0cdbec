// What goes wrong on a real X server with a real window manager: the target closes, the server
// goes away, another client destroys the backend's own window.
#include "XSession.h"
#include "x11/X11Desktop.h"

#include <QFile>
#include <QTest>

class TestX11Desktop : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void typesNothingIntoAClosedWindow();
    void survivesALostXServer();
    void activatesWithoutItsHelperWindow();

private:
    XUser m_user;
};

void TestX11Desktop::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") || !m_user.ok())
        QSKIP("needs an X server: run through ./test.sh");
}

void TestX11Desktop::typesNothingIntoAClosedWindow()
{
    Receiver term(uniqueTitle("kf closing"));
    QVERIFY(term.start(m_user));
    X11Desktop desktop;
    const WindowId target = desktop.activate(uniqueTitle("kf closing"));
    QVERIFY(target != 0);
    term.close();
    QVERIFY(desktop.inject(target, QStringLiteral("abc{ENTER}")) != Typing::Done);
    QVERIFY(!desktop.lastError().isEmpty());
    QCOMPARE(m_user.keysDown(), 0);
}

void TestX11Desktop::survivesALostXServer()
{
    X11Desktop nowhere(QStringLiteral(":6553"));
    QVERIFY(!nowhere.activate(QStringLiteral("anything")));
    QVERIFY(nowhere.lastError().contains(QStringLiteral("connect")));

    // A server of our own, which we stop under the backend's feet and start again on the same
    // display. The first picks a free display itself; each ends cleanly, leaving no lock behind.
    QString display;
    const auto startServer = [&](QProcess& server) {
        // -noreset: the server would otherwise reset, and refuse connections a moment, when the
        // probe below disconnects.
        QStringList args{QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                         QStringLiteral("-noreset")};
        args << (display.isEmpty() ? QStringList{QStringLiteral("-displayfd"), QStringLiteral("1")}
                                   : QStringList{display});
        server.start(QStringLiteral("Xvfb"), args);
        if (display.isEmpty() && server.waitForReadyRead(10000))
            display = QLatin1Char(':') + QString::fromLatin1(server.readLine().trimmed());
        X11Desktop probe(display);
        return !display.isEmpty() && QTest::qWaitFor([&] { return probe.isConnected(); }, 10000);
    };
    // While no server runs there, a lock file of ours keeps X servers that others start from
    // taking the display (they skip a display locked by a living process).
    QFile lock;
    const auto stopServer = [&](QProcess& server) {
        server.terminate();
        server.waitForFinished(5000);
        lock.setFileName(QStringLiteral("/tmp/.X%1-lock").arg(display.mid(1)));
        if (lock.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            lock.write(QByteArray::number(QCoreApplication::applicationPid()).rightJustified(10) +
                       "\n");
        lock.close();
    };
    QProcess server;
    if (!startServer(server))
        QSKIP("cannot start a second X server here");
    X11Desktop desktop(display);
    QVERIFY(desktop.isConnected());
    stopServer(server);
    QVERIFY(!desktop.activate(QStringLiteral("anything")));
    QCOMPARE(desktop.inject(1, QStringLiteral("abc")), Typing::Unavailable);
    QVERIFY(desktop.windowUnderPointer().id == 0);

    QProcess again;
    lock.remove();
    QVERIFY(startServer(again));
    // A broken connection is replaced on the next use.
    QVERIFY2(desktop.isConnected(), qPrintable(desktop.lastError()));
    stopServer(again);
    lock.remove();
}

// The backend stamps activation requests with a server time, which it learns from an event on a
// window of its own. Another client may destroy that window; the event then never comes.
void TestX11Desktop::activatesWithoutItsHelperWindow()
{
    Receiver term(uniqueTitle("kf no helper"));
    QVERIFY(term.start(m_user));
    const QList<quint32> before = m_user.rootChildren();
    X11Desktop desktop;
    QVERIFY(desktop.isConnected());
    for (quint32 w : m_user.rootChildren()) {
        if (!before.contains(w))
            m_user.destroyWindow(w);
    }
    const WindowId target = desktop.activate(uniqueTitle("kf no helper"));
    QCOMPARE(target, WindowId(term.window()));
    QCOMPARE(desktop.inject(target, QStringLiteral("ok")), Typing::Done);
    QCOMPARE(term.waitFor("ok"), QByteArray("ok"));
}

QTEST_GUILESS_MAIN(TestX11Desktop)
#include "tst_x11desktop.moc"
