#include "batchwin/IdListEditor.h"

#include "batch/CommandLine.h"
#include "batch/IdPlan.h"
#include "core/MessageSink.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kalvor::batchwin {

IdListEditor::IdListEditor(QWidget* parent) : QWidget(parent)
{
    text_ = new QPlainTextEdit(this);
    text_->setObjectName(QStringLiteral("idText"));
    text_->setPlaceholderText(tr("One dosimeter ID per line, in reading order: type, paste or scan them.\n"
                                 "Leave empty to count up from the prefix and first number."));
    text_->setTabChangesFocus(true);
    count_ = new QLabel(this);
    count_->setTextFormat(Qt::PlainText);
    count_->setWordWrap(true);
    auto* import = new QPushButton(tr("&Import CSV..."), this);
    import->setObjectName(QStringLiteral("importIds"));
    connect(import, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, tr("Import dosimeter IDs"), QString(),
                                                          tr("CSV or text files (*.csv *.txt);;All files (*)"));
        QString why;
        if (!path.isEmpty() && !importFile(path, &why))
            showMessage(why);
    });
    connect(text_, &QPlainTextEdit::textChanged, this, &IdListEditor::updateCount);

    auto* row = new QHBoxLayout;
    row->addWidget(count_, 1);
    row->addWidget(import);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(text_);
    layout->addLayout(row);
    updateCount();
}

QList<batch::IdEntry> IdListEditor::entries() const
{
    QList<batch::IdEntry> out;
    for (const QString& id : batch::IdPlan::parseText(text_->toPlainText()))
        out.append(imported_.value(id, batch::IdEntry{id, std::nullopt, QString()}));
    return out;
}

void IdListEditor::setEntries(const QList<batch::IdEntry>& entries)
{
    imported_.clear();
    QStringList ids;
    for (const batch::IdEntry& e : entries) {
        ids << e.id;
        if (e.thicknessMm || !e.position.isEmpty())
            imported_.insert(e.id, e);
    }
    text_->setPlainText(ids.join(QLatin1Char('\n')));
}

bool IdListEditor::importFile(const QString& path, QString* why)
{
    const std::optional<QList<batch::IdEntry>> entries = batch::readIdFile(path, why);
    if (!entries)
        return false;
    setEntries(*entries);
    return true;
}

void IdListEditor::updateCount()
{
    const QList<batch::IdEntry> list = entries();
    QString why;
    QString text = tr("%n IDs", nullptr, int(list.size()));
    int thick = 0;
    int placed = 0;
    for (const batch::IdEntry& e : list) {
        thick += e.thicknessMm ? 1 : 0;
        placed += e.position.isEmpty() ? 0 : 1;
    }
    if (thick)
        text += tr(", %1 with their own thickness").arg(thick);
    if (placed)
        text += tr(", %1 with a position").arg(placed);
    if (!batch::IdPlan::checkList(list, &why))
        text += QStringLiteral(" \u2014 ") + why;
    count_->setText(text);
}

} // namespace kalvor::batchwin
