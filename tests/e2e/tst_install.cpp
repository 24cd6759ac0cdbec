// The Debian package, unpacked into a folder of its own: its files, its desktop entry, and the
// installed program, which keeps its files in the per-user data folder and sends as it should.
#include "KeyflareProgram.h"
#include "Receiver.h"
#include "Session.h"
#include "TestFiles.h"
#include "XUser.h"
#include "gnome/GnomeExtension.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

class TestInstall : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        const QStringList debs = QDir(KEYFLARE_PACKAGE_DIR).entryList({"keyflare_*.deb"});
        if (debs.isEmpty())
            QSKIP("no package: run cpack -G DEB in the build folder (test.sh does)");
        m_deb = KEYFLARE_PACKAGE_DIR "/" + debs.last();
        QCOMPARE(QProcess::execute("dpkg", {"-x", m_deb, m_root.path()}), 0);
    }

    void installsItsFiles()
    {
        // The programs and the desktop entry are looked at below, which fails where they are
        // missing.
        for (const char* icon :
             {"scalable/apps/keyflare.svg", "48x48/apps/keyflare.png", "256x256/apps/keyflare.png"})
            QVERIFY2(QFile::exists(m_root.filePath("usr/share/icons/hicolor/") + icon), icon);
        for (const char* program : {"usr/bin/keyflare", "usr/bin/keyflare-clipboard"}) {
            // Stripped: no debug information in the package.
            const QByteArray listed = programOutput("readelf", {"-S", m_root.filePath(program)});
            QVERIFY2(listed.contains(".text") && !listed.contains(".debug_info"), program);
        }
        // Each form of the GNOME Shell extension is an extension of its own, which answers the
        // Keyflare installed beside it and no other; each release of GNOME Shell loads exactly one.
        QStringList releases;
        for (const char* name : {"keyflare@keyflare", "keyflare-legacy@keyflare"}) {
            const QString folder = m_root.filePath("usr/share/gnome-shell/extensions/") + name;
            QCOMPARE(readFile(folder + "/approved-callers"), QByteArray("/usr/bin/keyflare\n"));
            QVERIFY2(QFile::exists(folder + "/extension.js"), name);
            const QJsonObject meta =
                QJsonDocument::fromJson(readFile(folder + "/metadata.json")).object();
            QCOMPARE(meta["uuid"].toString(), QLatin1String(name));
            for (const QJsonValue& v : meta["shell-version"].toArray()) {
                QVERIFY2(!releases.contains(v.toString()), qPrintable(v.toString()));
                releases << v.toString();
            }
        }
        for (const char* release : {"43", "44", "45", "48", "51"})
            QVERIFY2(releases.contains(QLatin1String(release)), release);
        QCOMPARE(QProcess::execute("desktop-file-validate",
                                   {m_root.filePath("usr/share/applications/keyflare.desktop")}),
                 0);
        const QByteArray depends = programOutput("dpkg-deb", {"-f", m_deb, "Depends"});
        for (const char* lib : {"libqt6widgets6", "libxcb-xtest0", "libxkbcommon-x11-0"})
            QVERIFY2(depends.contains(lib), lib);
    }

    void installedProgramUsesTheDataFolder()
    {
        if (qgetenv("XDG_CURRENT_DESKTOP") == "GNOME")
            QSKIP("on X11; in GNOME the next test");
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY") && m_user.ok(),
                 "needs an X server: run through scripts/with-xvfb.sh, or ./test.sh");
        const QString title = uniqueTitle("kf-installed");
        Receiver term(title, "60x8+20+500");
        QVERIFY(term.start());
        KeyflareProgram app(m_root.filePath("usr/bin/keyflare"));
        app.putFile("Keyflare.ini", title.toUtf8() + "\r\n"); // in the per-user data folder
        QVERIFY(app.start());
        app.clickMacroButton(m_user, 1);
        QCOMPARE(term.waitFor("1\r"), QByteArray("1\r"));
        QVERIFY(app.close());
        QVERIFY(app.waitForExit());
        QCOMPARE(QDir(m_root.filePath("usr/bin")).entryList(QDir::Files),
                 QStringList({"keyflare", "keyflare-clipboard"}));
    }

    // In a newer release's GNOME, with the package installed into its root: that root's Keyflare
    // enables the extension of the form its shell loads, with no step of the user's, and types.
    void installedProgramTypesInItsRelease()
    {
        const QString root = qEnvironmentVariable("KEYFLARE_ROOT");
        if (session() != Session::Gnome || root.isEmpty())
            QSKIP("runs in a root's GNOME Shell with the package installed: "
                  "KEYFLARE_ROOT=ROOT scripts/with-package-root.sh PACKAGE scripts/with-gnome.sh - "
                  "tst_install");
        // The root's own program, run in the shell's own view of the root, as its users start it:
        // the shell approves a caller by the path it sees the caller's executable at.
        const uint shell = QDBusConnection::sessionBus().interface()->servicePid("org.gnome.Shell");
        QVERIFY(shell != 0);
        QTemporaryDir dir;
        const QString start = dir.filePath("keyflare");
        writeFile(start, "#!/bin/sh\nexec nsenter --target " + QByteArray::number(shell) +
                             " --mount --root env -C / /usr/bin/keyflare\n");
        QFile::setPermissions(start, QFile::ReadOwner | QFile::ExeOwner);
        // The test finds windows through the same extension: it answers this test as well.
        QFile approved(root + "/usr/share/gnome-shell/extensions/" +
                       GnomeExtension::systemUuid(
                           GnomeExtension::formFor(GnomeExtension::runningShellMajor())) +
                       "/approved-callers");
        QVERIFY(approved.open(QIODevice::Append));
        approved.write(
            QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath().toUtf8() + '\n');
        approved.close();
        const QString title = uniqueTitle("kf-installed");
        const std::unique_ptr<Hand> hand = Hand::forSession();
        KeyflareProgram app(start);
        app.putFile("Keyflare.ini", title.toUtf8() + "\r\n");
        QVERIFY2(app.start(), "the panel shows, with no question about the extension");
        Receiver term(title, "60x8+20+500");
        QVERIFY(term.start());
        app.clickMacroButton(*hand, 1);
        QCOMPARE(term.waitFor("1\r"), QByteArray("1\r"));
        QVERIFY(app.terminate());
    }

private:
    QString m_deb;
    QTemporaryDir m_root;
    XUser m_user;
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
