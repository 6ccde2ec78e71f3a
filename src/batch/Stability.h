#pragma once
// The stability rule of a capture: the last `count` consecutive readings all
// have status ok and all lie within ±band of their median. Readings that are
// not ok start the count again; `count` of them in a row with the same status
// are a fault that no waiting will cure.
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace kalvor::batch {

inline const QString kStatusOk = QStringLiteral("ok");

struct Reading {
    QString text;                 // as the reader shows it, e.g. " 0.512" or ">3.0"
    std::optional<double> value;  // nothing when the text is no number
    QString status;               // reader status that came with it
    QDateTime time;               // when the reader set it (UTC)
};

// A reading from the texts of data:A and reader:status.
Reading makeReading(const QString& text, const QString& status, const QDateTime& time);

// An absorbance as the reader shows it: three decimals, a leading blank when
// that gives five characters, ">3.0" above 3.0.
QString shownText(double absorbance);

struct StabilityRule {
    int count = 3;
    double band = 0.002;
    int timeoutMs = 10000;
    // The readings must also have stopped moving: no run that rises (or falls)
    // at every step across them. The reader smooths each reading towards the
    // one before, so a film that has just come into place creeps up on its
    // value; without this a film still rising is stored low.
    bool noTrend = true;

    bool isValid() const { return count >= 2 && count <= 20 && band > 0 && band <= 1 && timeoutMs >= 1000 && timeoutMs <= 600000; }
};

class StabilityWindow {
public:
    explicit StabilityWindow(StabilityRule rule = {}) : rule_(rule) {}

    void setRule(const StabilityRule& rule);
    const StabilityRule& rule() const { return rule_; }
    void clear();
    void add(const Reading& reading);

    bool stable() const;
    // The readings that count rise, or fall, at every step.
    bool trending() const;
    // The status of `count` consecutive readings that were all not ok with
    // that same status.
    std::optional<QString> persistentFault() const;

    // The readings that count: the last ones with status ok, at most `count`.
    const QList<Reading>& readings() const { return ok_; }
    int seen() const { return seen_; }
    double median() const;
    double spread() const;  // largest minus smallest
    QString medianText() const;
    // Why the window is not stable, for a refusal after the time-out.
    QString describe() const;

private:
    StabilityRule rule_;
    QList<Reading> ok_;
    QString faultStatus_;
    int faultRun_ = 0;
    int seen_ = 0;
};

} // namespace kalvor::batch
