#include "batch/Stability.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace kalvor::batch {

namespace {
// Readings come as three-decimal texts: a difference of exactly the band must pass.
constexpr double kSlack = 1e-9;

QString number(double v, int decimals = 3) { return QString::number(v, 'f', decimals); }

// Readings have three decimals; a median of two or a difference is kept to
// six, without the binary noise of the arithmetic (0.003, not 0.0030000000000000027).
double tidy(double v) { return std::round(v * 1e6) / 1e6; }
} // namespace

Reading makeReading(const QString& text, const QString& status, const QDateTime& time)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);  // C locale: decimal point
    return Reading{text, ok && std::isfinite(v) ? std::optional<double>(v) : std::nullopt, status, time};
}

QString shownText(double a)
{
    if (a > 3.0)
        return QStringLiteral(">3.0");
    const QString t = number(a);
    return t.size() == 5 ? QLatin1Char(' ') + t : t;
}

void StabilityWindow::setRule(const StabilityRule& rule)
{
    rule_ = rule;
    clear();
}

void StabilityWindow::clear()
{
    ok_.clear();
    faultStatus_.clear();
    faultRun_ = 0;
    seen_ = 0;
}

void StabilityWindow::add(const Reading& r)
{
    ++seen_;
    if (r.status == kStatusOk && r.value) {
        ok_.append(r);
        while (ok_.size() > rule_.count)
            ok_.removeFirst();
        faultRun_ = 0;
        faultStatus_.clear();
        return;
    }
    ok_.clear();
    const QString status = r.status == kStatusOk ? QStringLiteral("not a number (\"%1\")").arg(r.text) : r.status;
    if (status == faultStatus_) {
        ++faultRun_;
    } else {
        faultStatus_ = status;
        faultRun_ = 1;
    }
}

bool StabilityWindow::stable() const
{
    if (ok_.size() < rule_.count)
        return false;
    const double m = median();
    return std::all_of(ok_.begin(), ok_.end(),
                       [&](const Reading& r) { return std::abs(*r.value - m) <= rule_.band + kSlack; })
           && !(rule_.noTrend && trending());
}

bool StabilityWindow::trending() const
{
    if (ok_.size() < 2)
        return false;
    // Still moving: never down and up at least once (or the other way round),
    // and the last step a move too. Readings are shown to a thousandth, so a
    // creeping value rests on one for a reading or two on its way; once the
    // last step is flat, what is left to come is less than a thousandth.
    bool up = false;
    bool down = false;
    double step = 0;
    for (qsizetype i = 1; i < ok_.size(); ++i) {
        step = *ok_[i].value - *ok_[i - 1].value;
        up = up || step > kSlack;
        down = down || step < -kSlack;
    }
    return up != down && std::abs(step) > kSlack;
}

std::optional<QString> StabilityWindow::persistentFault() const
{
    if (faultRun_ >= rule_.count)
        return faultStatus_;
    return std::nullopt;
}

double StabilityWindow::median() const
{
    if (ok_.isEmpty())
        return 0;
    QList<double> v;
    for (const Reading& r : ok_)
        v << *r.value;
    std::sort(v.begin(), v.end());
    const qsizetype n = v.size();
    return n % 2 ? v[n / 2] : tidy((v[n / 2 - 1] + v[n / 2]) / 2);
}

double StabilityWindow::spread() const
{
    if (ok_.isEmpty())
        return 0;
    const auto [lo, hi] = std::minmax_element(ok_.begin(), ok_.end(),
                                              [](const Reading& a, const Reading& b) { return *a.value < *b.value; });
    return tidy(*hi->value - *lo->value);
}

QString StabilityWindow::medianText() const
{
    // With an odd count the median is one of the readings: keep its text as shown.
    const double m = median();
    if (ok_.size() % 2)
        for (const Reading& r : ok_)
            if (*r.value == m)
                return r.text;
    return shownText(m);
}

QString StabilityWindow::describe() const
{
    if (seen_ == 0)
        return QStringLiteral("no reading came from the reader");
    if (faultRun_ > 0)
        return QStringLiteral("the last reading had status %1").arg(faultStatus_);
    if (ok_.size() < rule_.count)
        return QStringLiteral("only %1 of %2 readings in a row were usable").arg(ok_.size()).arg(rule_.count);
    const double m = median();
    double farthest = 0;
    for (const Reading& r : ok_)
        farthest = std::max(farthest, std::abs(*r.value - m));
    return QStringLiteral("the last %1 readings lie up to %2 from their median (±%3 allowed)")
        .arg(ok_.size())
        .arg(number(farthest))
        .arg(QString::number(rule_.band, 'g', QLocale::FloatingPointShortest));
}

} // namespace kalvor::batch
