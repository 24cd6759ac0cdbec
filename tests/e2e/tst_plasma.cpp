// The real program as a native Wayland window under KDE Plasma's compositor (a headless KWin):
// on its first start a portable copy registers itself with Plasma, and says so; then a pointer
// clicks its macro buttons, and the text arrives in a real Qt text edit byte for byte.
#include "PanelGeometry.h"
#include "WaylandSession.h"
#include "XSession.h"
#include "kwin/KWinDesktop.h"

#include <QTest>

namespace {
namespace P = PanelGeometry;
const QString kPanel = QStringLiteral("Keyflare v2.3");

void prepare(KeyflareProgram& app, const QString& target, const QStringList& texts)
{
    app.putFile(QStringLiteral("Keyflare.ini"), target.toUtf8() + "\r\n");
    QByteArray set = "[Keyflare 1.07]\r\n";
    for (int k = 0; k < 48; ++k)
        set +=
            "C\r\n" + (k < texts.size() ? texts[k].toUtf8() : QByteArray::number(k + 1)) + "\r\n";
    app.putFile(QStringLiteral("Set.mcs"), set);
}

// Answers the message box titled "Keyflare" with Enter; false when none comes.
bool pressEnterInMessageBox()
{
    if (waitForWaylandWindow(QStringLiteral("Keyflare")) == 0)
        return false;
    KWinDesktop keyboard{QString()};
    return keyboard.inject(keyboard.activate(QStringLiteral("Keyflare")),
                           QStringLiteral("{ENTER}")) == Typing::Done;
}
} // namespace

class TestPlasma : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void registersItselfThenSends();

private:
    WaylandUser m_user;
};

void TestPlasma::initTestCase()
{
    if (qgetenv("XDG_CURRENT_DESKTOP") != "KDE")
        QSKIP("needs KWin: run through ./test.sh");
    QVERIFY2(m_user.ok(), "KWin gives the test fake input");
}

void TestPlasma::registersItselfThenSends()
{
    const QString title = uniqueTitle("kf-plasma-target");
    Receiver edit(title, QString(), 0, Receiver::QtWayland);
    QVERIFY(edit.startOnWayland());
    KeyflareProgram app;
    prepare(app, title, {QStringLiteral("Hello, Plasma! 42 {x}")});
    // The first start registers this copy with Plasma, and says where, before the panel shows.
    QVERIFY(app.startOnWayland(QStringLiteral("Keyflare")));
    QVERIFY2(pressEnterInMessageBox(), "a message tells of the registration");
    QVERIFY(waitForWaylandWindow(kPanel) != 0);
    QTest::qWait(300); // listed is not yet ready for a click
    m_user.clickControl(kPanel, P::kWidth, P::macroButton(0));
    // "+Return" is ticked on a first start: the text edit takes Enter as a new line.
    QCOMPARE(edit.waitFor("Hello, Plasma! 42 {x}\n"), QByteArray("Hello, Plasma! 42 {x}\n"));
}

QTEST_MAIN(TestPlasma)
#include "tst_plasma.moc"
