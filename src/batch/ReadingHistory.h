#pragma once
// The readings of the last minutes, for the strip chart.
#include <QDateTime>
#include <QList>

namespace kalvor::batch {

class ReadingHistory {
public:
    struct Point {
        QDateTime time;
        double value;
    };

    explicit ReadingHistory(int spanMs = 120000) : spanMs_(spanMs) {}

    void add(const QDateTime& time, double value);
    // Drops what is older than the span before `now`.
    void trim(const QDateTime& now);
    const QList<Point>& points() const { return points_; }
    int spanMs() const { return spanMs_; }

private:
    int spanMs_;
    QList<Point> points_;
};

} // namespace kalvor::batch
