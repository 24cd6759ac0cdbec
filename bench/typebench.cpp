// Typing speed and exactness of Keyflare's injection against xdotool, on one X server, into a
// real xterm, for several keyboard layouts. Prints one row per layout and tool.
#include "BenchCommon.h"
#include "KeyflareProgram.h"
#include "KeystrokeString.h"
#include "PanelGeometry.h"
#include "Receiver.h"
#include "TestTexts.h"
#include "XUser.h"
#include "x11/X11Desktop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

// The program keeps one desktop connection for its lifetime; so does the benchmark.
Run keyflare(X11Desktop& desktop, Receiver& term, const QString& title, const QString& text)
{
    const qsizetype offset = term.received().size();
    QElapsedTimer clock;
    clock.start();
    if (desktop.inject(desktop.activate(title), keystrokeString(text)) != Typing::Done)
        std::fprintf(stderr, "keyflare: %s\n", qPrintable(desktop.lastError()));
    return finish(term, offset, text.toUtf8(), clock);
}

Run xdotool(Receiver& term, const QString& title, const QString& text, bool noDelay)
{
    X11Desktop desktop;
    desktop.activate(title); // focus first, untimed: xdotool types into the focused window
    const qsizetype offset = term.received().size();
    QStringList args{QStringLiteral("type")};
    if (noDelay)
        args << QStringLiteral("--delay") << QStringLiteral("0");
    args << QStringLiteral("--") << text;
    QElapsedTimer clock;
    clock.start();
    QProcess::execute(QStringLiteral("xdotool"), args);
    return finish(term, offset, text.toUtf8(), clock);
}

// One layout's rows: Keyflare and xdotool typing text into an xterm.
bool measureLayout(XUser& user, const QString& text, const QString& layoutName, int group, int runs)
{
    setKeyboardLayout(layoutName);
    user.lockGroup(group);
    const QString layout = QStringLiteral("%1 (group %2)").arg(layoutName).arg(group + 1);
    const QString title = QStringLiteral("kf bench %1").arg(layout);
    Receiver term(title, QStringLiteral("120x20+20+300"));
    if (!term.start() && !term.start()) {
        std::fprintf(stderr, "cannot start xterm\n");
        return false;
    }
    // xdotool first: the keycodes Keyflare borrows stay mapped for a while after it typed,
    // and xdotool would find its missing characters there.
    const char* tools[] = {"xdotool type --delay 0", "xdotool type", "Keyflare"};
    double medians[3] = {};
    bool exact[3] = {true, true, true};
    for (int t = 0; t < 3; ++t) {
        std::unique_ptr<X11Desktop> desktop;
        if (t == 2)
            desktop = std::make_unique<X11Desktop>();
        std::vector<double> times;
        for (int r = 0; r < runs; ++r) {
            const Run run =
                t == 2 ? keyflare(*desktop, term, title, text) : xdotool(term, title, text, t == 0);
            exact[t] = exact[t] && run.exact;
            times.push_back(run.ms);
        }
        medians[t] = median(times);
    }
    for (int t : {2, 0, 1}) {
        const QString ratio = t == 2
                                  ? QStringLiteral("-")
                                  : QStringLiteral("%1x").arg(medians[t] / medians[2], 0, 'f', 1);
        std::printf("| %s | %s | %s | %.0f | %s |\n", qPrintable(layout), tools[t],
                    exact[t] ? "yes" : "no", medians[t], qPrintable(ratio));
    }
    std::fflush(stdout);
    return true;
}

// The real program: from the release of the mouse button over a macro button to the last
// character of its text in an xterm, on the us layout.
int clickToLastCharacter(XUser& user, int runs)
{
    const QString title = QStringLiteral("kf bench click");
    Receiver term(title, QStringLiteral("120x20+20+400"));
    KeyflareProgram app;
    app.putFile(QStringLiteral("Keyflare.ini"), title.toUtf8() + "\r\n");
    const QString texts[] = {kAnyText, chineseText(240, QStringLiteral("Chinese: "))};
    const int distinct[] = {146, 231};
    QByteArray set = "[Keyflare 1.07]\r\n";
    for (int k = 1; k <= 48; ++k)
        set += "C\r\n" + (k <= 2 ? texts[k - 1].toUtf8() : QByteArray::number(k)) + "\r\n";
    app.putFile(QStringLiteral("Bench.mcs"), set);
    if (!term.start() || !app.start()) {
        std::fprintf(stderr, "cannot start xterm or Keyflare\n");
        return 1;
    }
    bool allExact = true;
    for (int b = 0; b < 2; ++b) {
        const QByteArray expected = texts[b].toUtf8() + "\r";
        std::vector<double> times;
        bool exact = true;
        for (int r = 0; r < runs; ++r) {
            user.moveTo(user.controlCentre(QStringLiteral("Keyflare v2.3"), PanelGeometry::kWidth,
                                           PanelGeometry::macroButton(b)));
            user.button(1, true);
            const qsizetype offset = term.received().size();
            QElapsedTimer clock;
            clock.start();
            user.button(1, false);
            const Run run = finish(term, offset, expected, clock);
            exact = exact && run.exact;
            times.push_back(run.ms);
            QThread::msleep(300);
        }
        std::printf("\n%d characters, %d of them distinct and outside the layout (us), median of "
                    "%d runs, from the click on the macro button to the last character in "
                    "xterm: %.0f ms, %s\n",
                    static_cast<int>(texts[b].size()), distinct[b], runs, median(times),
                    exact ? "exact" : "NOT exact");
        allExact = allExact && exact;
    }
    return allExact ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = benchRuns();
    XUser user;
    if (!user.ok()) {
        std::fprintf(stderr, "needs an X server: run bench/run.sh\n");
        return 1;
    }
    const std::pair<const char*, int> layouts[] = {
        {"us", 0}, {"de", 0}, {"fr", 0}, {"us,de", 0}, {"us,de", 1}};
    for (const bool inside : {true, false}) {
        const QString text = benchText(inside);
        std::printf("\n%d characters %s, median of %d runs, time from the start of the send to "
                    "the last character received\n\n",
                    static_cast<int>(text.size()),
                    inside ? "inside the layout" : "some of them outside the layout", runs);
        std::printf("| layout | tool | exact | ms | Keyflare is faster by |\n"
                    "|---|---|---|---|---|\n");
        for (const auto& [name, group] : layouts) {
            if (!measureLayout(user, text, QString::fromLatin1(name), group, runs))
                return 1;
        }
    }
    setKeyboardLayout(QStringLiteral("us"));
    user.lockGroup(0);
    return clickToLastCharacter(user, runs);
}
