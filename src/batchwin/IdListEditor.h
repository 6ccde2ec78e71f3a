#pragma once
// A list of dosimeter IDs to type, paste, scan (a barcode scanner types each
// ID and Enter) or import from a CSV file. An imported file's thickness and
// position columns stay with each ID as long as the ID stays in the list.
#include "batch/IdPlan.h"

#include <QHash>
#include <QWidget>

class QPlainTextEdit;
class QLabel;

namespace kalvor::batchwin {

class IdListEditor : public QWidget {
    Q_OBJECT
public:
    explicit IdListEditor(QWidget* parent = nullptr);

    QList<batch::IdEntry> entries() const;
    void setEntries(const QList<batch::IdEntry>& entries);
    // Reads the file into the list; false with the reason.
    bool importFile(const QString& path, QString* why);

private:
    void updateCount();

    QPlainTextEdit* text_;
    QLabel* count_;
    QHash<QString, batch::IdEntry> imported_;
};

} // namespace kalvor::batchwin
