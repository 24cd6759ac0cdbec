// A GNOME user who has not got Keyflare's shell extension yet: Keyflare asks once whether to
// install it, installs and enables it for the next login, and until then, and while extensions
// are off, says why it reaches no window rather than typing anywhere. Runs in a GNOME Shell
// started without the extension. A release newer than any this Keyflare knows is named, and
// nothing is typed there.
#include "DesktopPlatform.h"
#include "fake/FakeDesktop.h"
#include "gnome/GnomeExtension.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

namespace {
QString gsettings(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("gsettings"), args);
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

QString userExtension()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/gnome-shell/extensions/keyflare@keyflare");
}
} // namespace

class TestGnomeSetup : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void offersTheExtensionThenSaysWhy();
    void namesAReleaseItDoesNotSupport_data();
    void namesAReleaseItDoesNotSupport();
};

void TestGnomeSetup::namesAReleaseItDoesNotSupport_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<QString>("form");
    QTest::addColumn<bool>("unsupported");
    QTest::newRow("44: scripts") << 44 << QStringLiteral("legacy") << false;
    QTest::newRow("45: modules") << 45 << QStringLiteral("module") << false;
    QTest::newRow("51: modules") << 51 << QStringLiteral("module") << false;
    QTest::newRow("52: not yet") << 52 << QString() << true;
    QTest::newRow("unknown") << 0 << QString() << false;
}

void TestGnomeSetup::namesAReleaseItDoesNotSupport()
{
    QFETCH(int, major);
    QFETCH(QString, form);
    QFETCH(bool, unsupported);
    QCOMPARE(GnomeExtension::formFor(major), form);
    const QString message = GnomeExtension::unsupportedRelease(major);
    QCOMPARE(!message.isEmpty(), unsupported);
    if (unsupported) {
        QVERIFY2(message.contains(QStringLiteral("GNOME %1").arg(major)), qPrintable(message));
        QVERIFY2(message.contains(QLatin1String("does not support it yet")), qPrintable(message));
        QVERIFY2(message.contains(QLatin1String("Nothing is typed")), qPrintable(message));
    }
}

void TestGnomeSetup::offersTheExtensionThenSaysWhy()
{
    if (qgetenv("XDG_CURRENT_DESKTOP") != "GNOME")
        QSKIP("runs in a GNOME Shell without Keyflare's extension: through ./test.sh");
    QVERIFY(!GnomeExtension::formFor(GnomeExtension::runningShellMajor()).isEmpty());
    const auto start = [](FakeDesktop& ask) {
        DesktopPlatform desktop(QDir::tempPath(), &ask);
        Platform platform = desktop.platform();
        // Nothing is reached, whatever the window.
        if (platform.activation.activate(QStringLiteral("anything")) != 0 ||
            platform.keys.inject(1, QStringLiteral("abc")) != Typing::Unavailable)
            return QStringLiteral("reached a window");
        return platform.activation.unavailableReason();
    };

    // Asked once, with the logout it needs; a No installs nothing.
    FakeDesktop no;
    no.answers = {Dialogs::No};
    QVERIFY(start(no).contains(QLatin1String("Start Keyflare again to install it")));
    QCOMPARE(no.messages.size(), 1);
    QVERIFY(no.messages[0].contains(QLatin1String("Install and enable")));
    QVERIFY(no.messages[0].contains(QLatin1String("log out and back in once")));
    QVERIFY(!QFile::exists(userExtension()));

    // A Yes installs the form this shell loads, answering this program, enabled for the next
    // login.
    FakeDesktop yes;
    yes.answers = {Dialogs::Yes};
    const QString reason = start(yes);
    QVERIFY2(reason.contains(QLatin1String("installed and enabled")), qPrintable(reason));
    QVERIFY(QFile::exists(userExtension() + QStringLiteral("/extension.js")));
    QFile approved(userExtension() + QStringLiteral("/approved-callers"));
    QVERIFY(approved.open(QIODevice::ReadOnly));
    QVERIFY(approved.readAll().split('\n').contains(
        QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath().toUtf8()));
    QVERIFY(gsettings({QStringLiteral("get"), QStringLiteral("org.gnome.shell"),
                       QStringLiteral("enabled-extensions")})
                .contains(QLatin1String("'keyflare@keyflare'")));

    // Until the next login (or while the screen is locked) it is installed but not running.
    FakeDesktop waiting;
    QVERIFY(start(waiting).contains(QLatin1String("installed but not running")));
    QVERIFY(waiting.messages.isEmpty());

    // Extensions turned off.
    gsettings({QStringLiteral("set"), QStringLiteral("org.gnome.shell"),
               QStringLiteral("disable-user-extensions"), QStringLiteral("true")});
    FakeDesktop off;
    QVERIFY(start(off).contains(QLatin1String("extensions are turned off")));
    QVERIFY(off.messages.isEmpty());
}

QTEST_MAIN(TestGnomeSetup)
#include "tst_gnome_setup.moc"
