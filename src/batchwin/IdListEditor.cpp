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

QStringList IdListEditor::ids() const { return batch::IdPlan::parseText(text_->toPlainText()); }

void IdListEditor::setIds(const QStringList& ids) { text_->setPlainText(ids.join(QLatin1Char('\n'))); }

bool IdListEditor::importFile(const QString& path, QString* why)
{
    const std::optional<QStringList> ids = batch::readIdFile(path, why);
    if (!ids)
        return false;
    setIds(*ids);
    return true;
}

void IdListEditor::updateCount()
{
    const QStringList list = ids();
    int bad = 0;
    for (const QString& id : list)
        bad += batch::IdPlan::isValidId(id) ? 0 : 1;
    count_->setText(bad ? tr("%n IDs, %1 not usable (too long or control characters)", nullptr, int(list.size())).arg(bad)
                        : tr("%n IDs", nullptr, int(list.size())));
}

} // namespace kalvor::batchwin
