#pragma once
// Which dosimeter ID the next film gets: the first ID of the batch's list that
// has no reading yet, or, without a list, the next number after a prefix
// (prefix "F-", first "001": F-001, F-002, ...). IDs are derived from the
// readings already stored, so a restarted batch goes on where it stopped.
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

namespace kalvor::batch {

class IdPlan {
public:
    IdPlan() = default;
    IdPlan(QString prefix, QString first) : prefix_(std::move(prefix)), first_(std::move(first)) {}

    void setList(const QStringList& ids);
    const QStringList& list() const { return list_; }
    bool hasList() const { return !list_.isEmpty(); }
    const QString& prefix() const { return prefix_; }
    const QString& first() const { return first_; }

    // Nothing when the list is used up.
    std::optional<QString> next(const QSet<QString>& used) const;
    // How many IDs of the list are still to read (0 without a list).
    int remaining(const QSet<QString>& used) const;

    // IDs from typed, pasted or scanned text: one per line, or separated by
    // commas, semicolons or tabs; blanks around each are dropped, empty ones
    // and repeats skipped.
    static QStringList parseText(const QString& text);
    // IDs from a CSV file's text: the column headed id, dosimeter, dosimeter id
    // or dosimeter_id (any case) when the first record is such a header,
    // otherwise the first column.
    static std::optional<QStringList> parseCsv(const QString& text, QString* why);
    // A text is usable as an ID: not empty, at most 64 characters, no control
    // characters.
    static bool isValidId(const QString& id);

private:
    QStringList list_;
    QString prefix_;
    QString first_ = QStringLiteral("1");
};

} // namespace kalvor::batch
