#pragma once
// One film through the stability rule on the virtual-clock reader: slid in
// after `delay` seconds (any point of the reading cycle), read until the rule
// holds, then left in until it has long settled, so that what was stored can
// be set against the film's settled value: the mean of 20 readings once the
// film is in place and the reader's smoothing has caught up.
#include "batch/Stability.h"
#include "support/VirtualReader.h"

namespace kalvor::batchtest {

struct FilmOutcome {
    bool stored = false;
    double value = 0;      // the value the rule stores
    int readings = 0;      // readings from insertion until the rule held
    double seconds = 0;    // from insertion until the rule held
    double settled = 0;    // mean of 20 readings after settling
    QString trace;
};

inline FilmOutcome readFilm(test::VirtualReader& reader, const batch::StabilityRule& rule, double absorbance,
                            double delay)
{
    FilmOutcome out;
    reader.wait(delay);
    const double inserted = reader.now();
    reader.insertFilm(absorbance);
    batch::StabilityWindow window(rule);
    const QDateTime t0 = QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);
    while (reader.now() - inserted < rule.timeoutMs / 1000.0) {
        const QString text = reader.read();
        out.trace += text + QLatin1Char(' ');
        window.add(batch::makeReading(text, batch::kStatusOk, t0.addMSecs(qint64(reader.now() * 1000))));
        if (window.stable()) {
            out.stored = true;
            out.value = window.median();
            out.readings = window.seen();
            out.seconds = reader.now() - inserted;
            break;
        }
    }
    // Long settled: the film is in place after a second, and the smoothing
    // halves what is left with each reading.
    while (reader.now() < inserted + 1.0 + 12 * test::VirtualReader::kPeriod)
        reader.read();
    double sum = 0;
    for (int i = 0; i < 20; ++i)
        sum += reader.read().trimmed().toDouble();
    out.settled = sum / 20;
    reader.removeFilm();
    for (int i = 0; i < 3; ++i)
        reader.read();
    return out;
}

} // namespace kalvor::batchtest
