#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

class QElapsedTimer;
class Receiver;

// What the benchmarks share: their texts, and how a run is timed.

// 240 characters: prose with the reserved characters and a TAB, either all inside every layout
// measured or with characters that none of them can type directly.
QString benchText(bool insideLayout);

struct Run
{
    bool exact = false;
    double ms = 0;
};

// Waits until the receiver has stopped receiving; returns when its last byte came, counted on
// clock, and whether what came after offset is expected.
Run finish(const Receiver& term, qsizetype offset, const QByteArray& expected,
           const QElapsedTimer& clock);
double median(std::vector<double> v);
// How many times each case runs: KEYFLARE_BENCH_RUNS, or 5.
int benchRuns();
