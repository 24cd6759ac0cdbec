// Typing speed on Wayland: the real program, from the click on a macro button to the last
// character received. On a wlroots compositor (a headless sway) into foot, against wtype typing
// the same text; under KWin (which wtype cannot type into) and in GNOME Shell (which no other
// program can type into) into a Qt text edit and a GTK 3 entry, on its own.
#include "BenchCommon.h"
#include "KeyflareProgram.h"
#include "KeystrokeString.h"
#include "PanelGeometry.h"
#include "Receiver.h"
#include "Session.h"
#include "TestTexts.h"
#include "gnome/GnomeDesktop.h"
#include "gnome/GnomeExtension.h"
#include "kwin/KWinConnection.h"
#include "kwin/KWinDesktop.h"
#include "wlroots/WlrootsDesktop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <cstdio>

namespace {

Run clickButton(Hand& user, Receiver& term, int index, const QByteArray& expected)
{
    const QString panel = QStringLiteral("Keyflare v2.3");
    user.moveOver(
        panel, user.controlCentre(panel, PanelGeometry::kWidth, PanelGeometry::macroButton(index)));
    const qsizetype offset = term.received().size();
    QElapsedTimer clock;
    clock.start();
    user.click();
    return finish(term, offset, expected, clock);
}

// How this KWin takes the characters a layout lacks: as keysyms it maps itself (fake input 6),
// or pasted through the clipboard.
QString kwinPath()
{
    KWinConnection kwin;
    QString error;
    if (!kwin.open(&error))
        return error;
    return QStringLiteral(", fake input %1: outside the layout %2")
        .arg(kwin.fakeInputVersion())
        .arg(kwin.fakeInputVersion() >= 6 ? QStringLiteral("as keysyms")
                                          : QStringLiteral("through the clipboard"));
}

Run wtype(Receiver& term, const QString& title, const QString& text)
{
    WlrootsDesktop desktop{QString()};
    desktop.activate(title);
    const qsizetype offset = term.received().size();
    QElapsedTimer clock;
    clock.start();
    QProcess::execute(QStringLiteral("wtype"), {QStringLiteral("--"), text});
    return finish(term, offset, text.toUtf8(), clock);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = benchRuns();
    const bool kwin = session() == Session::KWin;
    const bool gnome = session() == Session::Gnome;
    const bool alone = kwin || gnome; // no other program can type there
    const std::unique_ptr<Hand> hand = Hand::forSession();
    Hand& user = *hand;
    const QString title = QStringLiteral("kf bench receiver");
    Receiver term(title, QString(), 0,
                  gnome  ? Receiver::Gtk
                  : kwin ? Receiver::TextEdit
                         : Receiver::Terminal);
    KeyflareProgram keyflare;
    QString texts[] = {benchText(false), kAnyText};
    if (gnome) { // a GTK entry holds one line: Tab would move the focus on, Enter activate it
        for (QString& text : texts)
            text.remove(QLatin1Char('\t')).remove(QLatin1Char('\r'));
        keyflare.storeSettings({{QStringLiteral("CrgReturn"), QStringLiteral("0")}});
    }
    keyflare.putFile(QStringLiteral("Keyflare.ini"), title.toUtf8() + "\r\n");
    QByteArray set = "[Keyflare 1.07]\r\n";
    for (int k = 1; k <= 48; ++k)
        set += "C\r\n" + (k <= 2 ? texts[k - 1].toUtf8() : QByteArray::number(k)) + "\r\n";
    keyflare.putFile(QStringLiteral("Bench.mcs"), set);
    const bool started =
        user.ok() && term.start() && keyflare.start() && keyflare.waitUntilPlaced(user);
    if (!started) {
        std::fprintf(stderr, "needs a compositor, its receiver and Keyflare: run bench/run.sh\n");
        return 1;
    }
    // Which GNOME Shell, as it tells itself: the suite runs those of several releases.
    const QString where = kwin ? QStringLiteral("Under KWin (headless) into a Qt text edit")
                          : gnome
                              ? QStringLiteral("In GNOME Shell %1 (headless) into a GTK 3 entry")
                                    .arg(GnomeExtension::runningShellMajor())
                              : QStringLiteral("On sway (headless) into foot");
    std::printf("\n%s%s, median of %d runs: Keyflare from the click on the macro button%s, to "
                "the last character received\n\n| text | Keyflare | %s | Keyflare is faster by "
                "|\n|---|---|---|---|\n",
                qPrintable(where), kwin ? qPrintable(kwinPath()) : "", runs,
                alone ? "" : ", wtype from its start", alone ? "-" : "wtype");
    bool allExact = true;
    for (int b = 0; b < 2; ++b) {
        std::vector<double> ours;
        std::vector<double> theirs;
        bool oursExact = true;
        bool theirsExact = true;
        for (int r = 0; r < runs; ++r) {
            // The receiver, made active by the send before, may cover the panel.
            if (kwin)
                KWinDesktop{QString()}.activate(QStringLiteral("Keyflare v2.3"));
            if (gnome)
                GnomeDesktop{}.activate(QStringLiteral("Keyflare v2.3"));
            const QByteArray expected = texts[b].toUtf8() + (gnome ? "" : term.enter());
            const Run k = clickButton(user, term, b, expected);
            oursExact = oursExact && k.exact;
            ours.push_back(k.ms);
            if (!alone) {
                const Run w = wtype(term, title, texts[b]);
                theirsExact = theirsExact && w.exact;
                theirs.push_back(w.ms);
            }
            QThread::msleep(200);
        }
        const QString peer = alone ? QStringLiteral("-")
                                   : QStringLiteral("%1 ms, %2")
                                         .arg(median(theirs), 0, 'f', 0)
                                         .arg(theirsExact ? "exact" : "not exact");
        const QString ratio =
            alone ? QStringLiteral("-")
                  : QStringLiteral("%1x").arg(median(theirs) / median(ours), 0, 'f', 1);
        std::printf("| %s | %.0f ms, %s | %s | %s |\n",
                    b == 0 ? "240 characters, some outside the layout"
                           : "238 characters, 146 distinct outside the layout",
                    median(ours), oursExact ? "exact" : "NOT exact", qPrintable(peer),
                    qPrintable(ratio));
        allExact = allExact && oursExact;
    }
    if (gnome) { // typed straight through the backend, to learn how long the user's keys are lent
        std::printf("\nIn GNOME Shell, how long the user's own keys meant other characters, "
                    "median of %d sends\n\n| text | remapped |\n|---|---|\n",
                    runs);
        GnomeDesktop desktop;
        (void)keyflare.waitUntilIdle(); // done with its last send
        // Straight into a Qt text edit, made active before each send.
        Receiver edit(title + QStringLiteral(" edit"), QString(), 0, Receiver::TextEdit);
        if (!edit.start())
            return 1;
        for (int b = 0; b < 2; ++b) {
            std::vector<double> remapped;
            for (int r = 0; r < runs; ++r) {
                if (desktop.inject(desktop.activate(edit.title()), keystrokeString(texts[b])) ==
                    Typing::Done)
                    remapped.push_back(desktop.lastRemappedUs() / 1000.0);
                else
                    std::fprintf(stderr, "%s\n", qPrintable(desktop.lastError()));
            }
            std::printf("| %s | %.0f ms |\n",
                        b == 0 ? "240 characters" : "238 characters, 146 distinct",
                        remapped.empty() ? -1.0 : median(remapped));
        }
    }
    std::fflush(stdout);
    return allExact ? 0 : 1;
}
