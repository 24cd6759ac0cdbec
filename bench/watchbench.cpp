// How the real program's line beside the title follows the desktop's windows, with 50 windows
// open: the processor time it takes while nothing changes, against an idle Qt program's (one of
// the 50), and how long a window's new title takes to reach the line (read as a screen reader
// reads it), against how long it takes to reach a fresh listing of the desktop's windows.
#include "BenchCommon.h"
#include "KeyflareProgram.h"
#include "Receiver.h"
#include "ScreenReader.h"
#include "Session.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kWindows = 50;
constexpr int kIdleSeconds = 10;

// The processor time process pid has used so far, in milliseconds.
double cpuMs(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = f.readAll();
    // After the name in parentheses: the state is field 3; user and system time are 14 and 15.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) * 1000.0 /
           double(sysconf(_SC_CLK_TCK));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QString target = QStringLiteral("kf bench target");
    std::vector<std::unique_ptr<Receiver>> windows;
    for (int i = 1; i <= kWindows; ++i) {
        windows.push_back(std::make_unique<Receiver>(QStringLiteral("kf bench window %1").arg(i),
                                                     QString(), 0, Receiver::TextEdit));
        if (!windows.back()->start())
            return 1;
    }
    KeyflareProgram keyflare;
    keyflare.putTargetAndSet(target, {QStringLiteral("x")});
    if (!keyflare.start())
        return 1;
    ScreenReader reader;
    const auto line = [&] { return reader.description(keyflare.pid(), "Receiving window"); };
    const auto says = [&](const QString& expected, int ms) {
        return QTest::qWaitFor([&] { return line() == expected; }, ms);
    };
    if (!says(QStringLiteral("No window matches"), 10000) || !keyflare.waitUntilIdle()) {
        std::printf("the line never said that no window matches: %s\n", qPrintable(line()));
        return 1;
    }

    const qint64 peer = windows.front()->pid();
    const double keyflareBefore = cpuMs(keyflare.pid());
    const double peerBefore = cpuMs(peer);
    QThread::sleep(kIdleSeconds);
    std::printf("Idle for %d s with %d windows open: Keyflare used %.0f ms of processor time, an "
                "idle Qt window %.0f ms (the clock counts in steps of %.0f ms)\n",
                kIdleSeconds, kWindows, cpuMs(keyflare.pid()) - keyflareBefore,
                cpuMs(peer) - peerBefore, 1000.0 / double(sysconf(_SC_CLK_TCK)));

    std::vector<double> toLine, toListing;
    Receiver& renamed = *windows[kWindows / 2];
    const QString before = renamed.title();
    for (int run = 1; run <= benchRuns(); ++run) {
        const QString title = QStringLiteral("%1 %2").arg(target).arg(run);
        const QString expected =
            QStringLiteral("Receives the text: \u201c%1\u201d (qtreceiver)").arg(title);
        QElapsedTimer clock;
        clock.start();
        renamed.retitle(title);
        double lineMs = -1;
        double listedMs = -1;
        while ((lineMs < 0 || listedMs < 0) && clock.elapsed() < 10000) {
            if (lineMs < 0 && line() == expected)
                lineMs = double(clock.nsecsElapsed()) / 1e6;
            if (listedMs < 0 && waitForWindow(title, 0) != 0)
                listedMs = double(clock.nsecsElapsed()) / 1e6;
        }
        if (lineMs < 0 || listedMs < 0) {
            std::printf("run %d: the new title did not arrive: %s\n", run, qPrintable(line()));
            return 1;
        }
        toLine.push_back(lineMs);
        toListing.push_back(listedMs);
        renamed.retitle(before);
        if (!says(QStringLiteral("No window matches"), 10000))
            return 1;
    }
    const double lineMedian = median(toLine);
    const double listingMedian = median(toListing);
    std::printf("A window's new title, median of %d: on the line after %.1f ms; in a fresh "
                "listing of the windows after %.1f ms (ratio %.2f)\n",
                benchRuns(), lineMedian, listingMedian, lineMedian / listingMedian);
    return 0;
}
