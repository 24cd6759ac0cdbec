// Typing speed on a wlroots compositor (a headless sway): the real program, from the click on a
// macro button to the last character in foot, against wtype typing the same text into it.
#include "BenchCommon.h"
#include "PanelGeometry.h"
#include "WaylandSession.h"
#include "XSession.h"
#include "wlroots/WlrootsDesktop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <cstdio>

namespace {

Run clickButton(WaylandUser& user, Receiver& term, int index, const QByteArray& expected)
{
    const QRect panel = user.windowRect(QStringLiteral("Keyflare v2.3"));
    const QRect button = PanelGeometry::macroButton(index);
    const double scale = panel.width() / double(PanelGeometry::kWidth);
    user.moveTo(panel.topLeft() + QPoint(qRound((button.center().x()) * scale),
                                         qRound((button.center().y()) * scale)));
    const qsizetype offset = term.received().size();
    QElapsedTimer clock;
    clock.start();
    user.click();
    return finish(term, offset, expected, clock);
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
    const int runs = qEnvironmentVariableIntValue("KEYFLARE_BENCH_RUNS") > 0
                         ? qEnvironmentVariableIntValue("KEYFLARE_BENCH_RUNS")
                         : 5;
    WaylandUser user;
    const QString title = QStringLiteral("kf bench foot");
    Receiver term(title, QString(), 0, Receiver::Foot);
    KeyflareProgram keyflare;
    const QString texts[] = {benchText(false), kManyLanguages};
    keyflare.putFile(QStringLiteral("Keyflare.ini"), title.toUtf8() + "\r\n");
    QByteArray set = "[Keyflare 1.07]\r\n";
    for (int k = 1; k <= 48; ++k)
        set += "C\r\n" + (k <= 2 ? texts[k - 1].toUtf8() : QByteArray::number(k)) + "\r\n";
    keyflare.putFile(QStringLiteral("Bench.mcs"), set);
    if (!user.ok() || !term.startOnWayland() || !keyflare.startOnWayland()) {
        std::fprintf(stderr, "needs sway, foot and Keyflare: run bench/run.sh\n");
        return 1;
    }
    std::printf("\nOn sway (headless) into foot, median of %d runs: Keyflare from the click on the "
                "macro button, wtype from its start, to the last character received\n\n"
                "| text | Keyflare | wtype | Keyflare is faster by |\n|---|---|---|---|\n",
                runs);
    bool allExact = true;
    for (int b = 0; b < 2; ++b) {
        std::vector<double> ours;
        std::vector<double> theirs;
        bool oursExact = true;
        bool theirsExact = true;
        for (int r = 0; r < runs; ++r) {
            const Run k = clickButton(user, term, b, texts[b].toUtf8() + "\r");
            const Run w = wtype(term, title, texts[b]);
            oursExact = oursExact && k.exact;
            theirsExact = theirsExact && w.exact;
            ours.push_back(k.ms);
            theirs.push_back(w.ms);
            QThread::msleep(200);
        }
        std::printf("| %s | %.0f ms, %s | %.0f ms, %s | %.1fx |\n",
                    b == 0 ? "240 characters, some outside the layout"
                           : "238 characters, 146 distinct outside the layout",
                    median(ours), oursExact ? "exact" : "NOT exact", median(theirs),
                    theirsExact ? "exact" : "not exact", median(theirs) / median(ours));
        allExact = allExact && oursExact;
    }
    std::fflush(stdout);
    return allExact ? 0 : 1;
}
