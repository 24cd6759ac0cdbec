// A Wayland compositor that offers programs no way to reach other windows (a headless weston):
// Keyflare's platform says so, naming the desktop, and reaches nothing.
#include "DesktopPlatform.h"

#include <QDir>
#include <QTest>

class TestUnsupported : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void saysSoAndReachesNothing();
};

void TestUnsupported::saysSoAndReachesNothing()
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        QSKIP("needs a Wayland compositor: run through ./test.sh");
    DesktopPlatform desktop(QDir::tempPath());
    Platform p = desktop.platform();
    QVERIFY2(p.activation.unavailableReason().contains(qEnvironmentVariable("XDG_CURRENT_DESKTOP")),
             qPrintable(p.activation.unavailableReason()));
    QCOMPARE(p.activation.activate(QStringLiteral("anything")), WindowId(0));
    QCOMPARE(p.keys.inject(1, QStringLiteral("abc")), Typing::Unavailable);
    QCOMPARE(p.pointer.windowUnderPointer().id, WindowId(0));
}

QTEST_GUILESS_MAIN(TestUnsupported)
#include "tst_unsupported.moc"
