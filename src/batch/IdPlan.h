#pragma once
// Which dosimeter ID the next film gets: the first ID of the batch's list that
// has no current record yet, or, without a list, the next number after a
// prefix (prefix "F-", first "001": F-001, F-002, ...). IDs are derived from
// the records already stored, so a restarted batch goes on where it stopped.
// A list may give each film its own thickness (mm) and its position.
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

namespace kalvor::batch {

struct IdEntry {
    QString id;
    std::optional<double> thicknessMm;  // the film's own thickness, when measured one by one
    QString position;                   // where it was placed, e.g. top-front-left

    bool operator==(const IdEntry&) const = default;
};

class IdPlan {
public:
    IdPlan() = default;
    IdPlan(QString prefix, QString first) : prefix_(std::move(prefix)), first_(std::move(first)) {}

    void setEntries(const QList<IdEntry>& entries) { entries_ = entries; }
    const QList<IdEntry>& entries() const { return entries_; }
    QStringList list() const;
    bool hasList() const { return !entries_.isEmpty(); }
    // The list's entry of this ID; nothing when the ID is not on it.
    std::optional<IdEntry> entry(const QString& id) const;
    const QString& prefix() const { return prefix_; }
    const QString& first() const { return first_; }

    // Nothing when the list is used up.
    std::optional<QString> next(const QSet<QString>& used) const;
    // How many IDs of the list are still to read (0 without a list).
    int remaining(const QSet<QString>& used) const;

    // IDs from typed, pasted or scanned text: one per line, or separated by
    // commas, semicolons or tabs; blanks around each and empty ones dropped.
    // Repeats are kept, for checkList to name.
    static QStringList parseText(const QString& text);
    // Entries from a CSV file's text. A first record that names an ID column
    // (id, dosimeter, dosimeter id, dosimeter_id; any case) is a header, and
    // may name `thickness` (or thickness_mm, in mm) and `position` columns;
    // without a header the first column holds the IDs. Blank lines are
    // skipped; any other fault fails with its line number and reason.
    static std::optional<QList<IdEntry>> parseCsv(const QString& text, QString* why);
    // The list is usable: every ID valid, none twice. `why` names the faults.
    static bool checkList(const QList<IdEntry>& entries, QString* why);
    static QList<IdEntry> entriesOf(const QStringList& ids);
    // A text is usable as an ID: not empty, at most 64 characters, no
    // control characters, no blanks at either end.
    static bool isValidId(const QString& id);
    // Why `id` is not usable, for people; empty when it is.
    static QString idProblem(const QString& id);

    // The list as kept in the store's id-list event, and back: one ID per
    // line, or CSV with a header when any entry has a thickness or position.
    static QString toStored(const QList<IdEntry>& entries);
    static QList<IdEntry> fromStored(const QString& text);

private:
    QList<IdEntry> entries_;
    QString prefix_;
    QString first_ = QStringLiteral("1");
};

} // namespace kalvor::batch
