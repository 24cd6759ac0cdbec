#include "BenchCommon.h"

#include "Receiver.h"

#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <cstdio>

QString benchText(bool insideLayout)
{
    QString t = QStringLiteral("Dear Ms. O'Neil,\tinvoice #4711 (net 50% + tax) is due on "
                               "[2026-12-31] {ref ~A^B}; ");
    t += insideLayout ? QStringLiteral("pay 5 EUR - \"now\", Strasse 7, cafe naive. ")
                      : QStringLiteral("pay 5€ — “now”, Straße 7, café naïve. ");
    while (t.size() < 240)
        t += QStringLiteral("The quick brown fox jumps over the lazy dog 0123456789. ");
    return t.left(240);
}

Run finish(const Receiver& term, qsizetype offset, const QByteArray& expected,
           const QElapsedTimer& clock)
{
    QByteArray got;
    double last = 0;
    qint64 quietSince = clock.elapsed();
    // Until the first character, the whole time limit: a first send may compile a keyboard map.
    while ((got.isEmpty() || clock.elapsed() - quietSince < 600) && clock.elapsed() < 20000) {
        const QByteArray now = term.received().mid(offset);
        if (now.size() != got.size()) {
            got = now;
            last = clock.nsecsElapsed() / 1e6;
            quietSince = clock.elapsed();
            if (got == expected)
                break;
        }
        QThread::usleep(200);
    }
    if (got != expected) // says what went wrong, beside the table
        std::fprintf(stderr, "received %lld bytes of %lld: %s\n",
                     static_cast<long long>(got.size()), static_cast<long long>(expected.size()),
                     got.constData());
    return {got == expected, last};
}
double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

int benchRuns()
{
    const int runs = qEnvironmentVariableIntValue("KEYFLARE_BENCH_RUNS");
    return runs > 0 ? runs : 5;
}
