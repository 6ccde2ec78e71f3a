#pragma once
// A list of dosimeter IDs to type, paste, scan (a barcode scanner types each
// ID and Enter) or import from a CSV file.
#include <QWidget>

class QPlainTextEdit;
class QLabel;

namespace kalvor::batchwin {

class IdListEditor : public QWidget {
    Q_OBJECT
public:
    explicit IdListEditor(QWidget* parent = nullptr);

    QStringList ids() const;
    void setIds(const QStringList& ids);
    // Reads the file into the list; false with the reason.
    bool importFile(const QString& path, QString* why);

private:
    void updateCount();

    QPlainTextEdit* text_;
    QLabel* count_;
};

} // namespace kalvor::batchwin
