#include "batchwin/QcReportPdf.h"

#include "batch/QcCommands.h"
#include "records/Calibrations.h"
#include "batchwin/QcCharts.h"

#include <QAbstractTextDocumentLayout>
#include <QChart>
#include <QGraphicsScene>
#include <QLocale>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextObjectInterface>
#include <QTextTable>
#include <memory>

namespace kalvor::batchwin {

using namespace kalvor::batch;

namespace {

constexpr int kChartObject = QTextFormat::UserObject + 1;
constexpr int kChartIndex = QTextFormat::UserProperty + 1;

// Draws the charts where the text holds their placeholders.
class ChartHandler : public QObject, public QTextObjectInterface {
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)
public:
    std::vector<std::unique_ptr<QChart>> charts;
    qreal width = 0;

    QSizeF intrinsicSize(QTextDocument*, int, const QTextFormat&) override { return {width, width * 0.42}; }
    void drawObject(QPainter* painter, const QRectF& rect, QTextDocument*, int, const QTextFormat& format) override
    {
        QChart* chart = charts.at(size_t(format.property(kChartIndex).toInt())).get();
        // Laid out at a screen's size, then scaled into the page's rectangle as vectors.
        const QSizeF logical(760, 760 * rect.height() / rect.width());
        QGraphicsScene scene;
        scene.addItem(chart);
        chart->setGeometry(QRectF(QPointF(0, 0), logical));
        scene.setSceneRect(QRectF(QPointF(0, 0), logical));
        scene.render(painter, rect, scene.sceneRect());
        scene.removeItem(chart);
    }
};

class Builder {
public:
    Builder(QTextDocument& doc, ChartHandler& handler) : cursor_(&doc), handler_(handler)
    {
        body_.setFontPointSize(9.5);
        // One layout at the end, not one per insertion.
        cursor_.beginEditBlock();
    }
    void finish() { cursor_.endEditBlock(); }

    // `newPage`: the heading starts a page, with what follows it.
    void heading(const QString& text, qreal size = 13, bool newPage = false)
    {
        QTextBlockFormat block;
        if (newPage)
            block.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        block.setTopMargin(size * 0.8);
        block.setBottomMargin(3);
        QTextCharFormat f;
        f.setFontPointSize(size);
        f.setFontWeight(QFont::Bold);
        cursor_.insertBlock(block, f);
        cursor_.insertText(text, f);
    }
    // Plain text: user text (serials, lots, certificates) is never markup.
    void paragraph(const QString& text, const QColor& color = Qt::black)
    {
        QTextCharFormat f = body_;
        f.setForeground(color);
        cursor_.insertBlock(QTextBlockFormat(), f);
        cursor_.insertText(text, f);
    }
    void chart(QChart* chart)
    {
        handler_.charts.emplace_back(chart);
        QTextCharFormat f;
        f.setObjectType(kChartObject);
        f.setProperty(kChartIndex, int(handler_.charts.size() - 1));
        cursor_.insertBlock();
        cursor_.insertText(QString(QChar::ObjectReplacementCharacter), f);
    }
    void table(const QStringList& header, const QList<QStringList>& rows, const QList<bool>& flagged = {})
    {
        QTextTableFormat tf;
        tf.setCellPadding(1.5);
        tf.setCellSpacing(0);
        tf.setBorder(0.5);
        tf.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
        tf.setHeaderRowCount(1);
        tf.setTopMargin(4);
        QTextTable* t = cursor_.insertTable(int(rows.size()) + 1, int(header.size()), tf);
        QTextCharFormat head = body_;
        head.setFontPointSize(8);
        head.setFontWeight(QFont::Bold);
        QTextCharFormat cell = body_;
        cell.setFontPointSize(8);
        for (int c = 0; c < header.size(); ++c)
            t->cellAt(0, c).firstCursorPosition().insertText(header[c], head);
        for (int r = 0; r < rows.size(); ++r) {
            QTextCharFormat f = cell;
            if (flagged.value(r))
                f.setForeground(QColor(0xc0, 0x20, 0x20));
            for (int c = 0; c < header.size(); ++c)
                t->cellAt(r + 1, c).firstCursorPosition().insertText(rows[r].value(c), f);
        }
        cursor_.movePosition(QTextCursor::End);
    }

private:
    QTextCursor cursor_;
    ChartHandler& handler_;
    QTextCharFormat body_;
};

QString local(const QDateTime& t) { return t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")); }

void build(Builder& b, const QcData& d)
{
    b.heading(QStringLiteral("KALVOR quality control"), 17);
    b.paragraph(QStringLiteral("Period: %1. Store: %2. Read %3.").arg(periodText(d.options), d.storePath,
                                                                    local(QDateTime::fromString(d.timeUtc, Qt::ISODateWithMs))));
    b.paragraph(QStringLiteral("Each filter check result is compared with the certified absorbance of its reference filter "
                               "(the certificate in force on its day). Control limits of each chart: the centre (the mean) and "
                               "σ = mean moving range / 1.128 from the baseline, limits centre ± 3σ, moving-range limit "
                               "3.267 × mean moving range. Run rules: 1 one point beyond "
                               "3σ; 2 two of three in a row beyond 2σ on one side; 3 four of five in a row beyond 1σ on one "
                               "side; 4 eight in a row on one side of the centre."));

    b.heading(QStringLiteral("Reference filters"));
    if (d.references.isEmpty())
        b.paragraph(QStringLiteral("None recorded."));
    QList<QStringList> refs;
    for (const records::ReferenceSet& r : d.references)
        refs << QStringList{r.readerSerial, r.wavelength, QString::number(r.light, 'f', 3), QString::number(r.medium, 'f', 3),
                            QString::number(r.dark, 'f', 3), r.expandedU ? QString::number(*r.expandedU, 'f', 3) : QString(),
                            QStringLiteral("±") + QString::number(r.tolerance, 'f', 3), r.certificate,
                            r.certificateDate.toString(Qt::ISODate)};
    if (!refs.isEmpty())
        b.table({QStringLiteral("reader"), QStringLiteral("wavelength"), QStringLiteral("light"), QStringLiteral("medium"),
                 QStringLiteral("dark"), QStringLiteral("U"), QStringLiteral("tolerance"), QStringLiteral("certificate"),
                 QStringLiteral("date")},
                refs);

    b.heading(QStringLiteral("Control charts"));
    if (d.series.isEmpty())
        b.paragraph(QStringLiteral("No filter check with a reference in this period."));
    for (const FilterSeries& s : d.series) {
        b.heading(s.title(), 11, &s != &d.series.constFirst());
        for (const QString& line : seriesFindings(s, d.options))
            b.paragraph(line);
        b.chart(individualsChart(s));
        b.chart(movingRangeChart(s));
    }

    b.heading(QStringLiteral("Zero of the reader"), 13, true);
    if (d.zeros.isEmpty())
        b.paragraph(QStringLiteral("No stored reading in this period."));
    for (const ZeroTrend& z : d.zeros) {
        b.heading(z.title(), 11);
        b.paragraph(z.summary(), z.falling() ? QColor(0xc0, 0x20, 0x20) : QColor(Qt::black));
        if (!z.points.isEmpty())
            b.chart(zeroChart(z));
    }

    b.heading(QStringLiteral("Calibration verifications"));
    if (d.verifications.isEmpty())
        b.paragraph(QStringLiteral("None in this period."));
    QStringList lots;
    for (const records::VerificationRecord& v : d.verifications)
        if (!lots.contains(v.lot))
            lots << v.lot;
    for (const QString& lot : lots) {
        QList<records::VerificationRecord> ofLot;
        QList<QStringList> rows;
        QList<bool> failed;
        for (const records::VerificationRecord& v : d.verifications)
            if (v.lot == lot) {
                ofLot << v;
                rows << QStringList{local(QDateTime::fromString(v.timeUtc, Qt::ISODateWithMs)), v.batchName,
                                    QStringLiteral("%1 · %2").arg(v.readerSerial, v.wavelength), QString::number(v.films),
                                    QString::number(v.meanRatio, 'f', 4), QString::number(v.sdRatio, 'f', 4),
                                    QStringLiteral("±%1 %").arg(v.tolerancePct), v.passed ? QStringLiteral("pass") : QStringLiteral("FAIL")};
                failed << !v.passed;
            }
        b.heading(QStringLiteral("Lot %1").arg(lot), 11);
        b.chart(verificationChart(lot, ofLot));
        b.table({QStringLiteral("time"), QStringLiteral("batch"), QStringLiteral("reader"), QStringLiteral("films"),
                 QStringLiteral("mean ratio"), QStringLiteral("SD"), QStringLiteral("tolerance"), QStringLiteral("result")},
                rows, failed);
    }

    b.heading(QStringLiteral("Filter check results"), 13, true);
    QList<QStringList> rows;
    QList<bool> flagged;
    for (const JudgedCheck& j : d.results) {
        rows << QStringList{local(j.time), j.check.readerSerial, records::normalWavelength(j.check.wavelength), j.check.filter,
                            j.check.value ? QString::number(*j.check.value, 'f', 3) : j.check.shown.trimmed(),
                            j.referenceValue ? QString::number(*j.referenceValue, 'f', 3) : QString(),
                            j.deviation ? QString::number(*j.deviation, 'f', 3) : QString(),
                            j.within ? (*j.within ? QStringLiteral("yes") : QStringLiteral("NO")) : QStringLiteral("no reference"),
                            rulesCell(j.rules)};
        flagged << ((j.within && !*j.within) || !j.rules.isEmpty());
    }
    if (rows.isEmpty())
        b.paragraph(QStringLiteral("None in this period."));
    else
        b.table({QStringLiteral("time"), QStringLiteral("reader"), QStringLiteral("wavelength"), QStringLiteral("filter"),
                 QStringLiteral("measured"), QStringLiteral("reference"), QStringLiteral("deviation"), QStringLiteral("within"),
                 QStringLiteral("rules")},
                rows, flagged);
}

} // namespace

bool writeQcPdf(const QcData& data, const QString& path, QString* why)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *why = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    {
        QPdfWriter writer(&file);
        writer.setTitle(QStringLiteral("KALVOR quality control"));
        writer.setCreator(QStringLiteral("kalvor-batch %1").arg(QStringLiteral(KALVOR_VERSION)));
        writer.setResolution(300);
        const bool inches = QLocale::system().measurementSystem() == QLocale::ImperialUSSystem;
        writer.setPageSize(QPageSize(inches ? QPageSize::Letter : QPageSize::A4));
        writer.setPageMargins(QMarginsF(15, 15, 15, 18), QPageLayout::Millimeter);

        QTextDocument doc;
        doc.documentLayout()->setPaintDevice(&writer);
        QFont font = doc.defaultFont();
        font.setPointSizeF(9.5);
        // Without ligatures, so that "filter" is found by a search of the PDF's text.
        font.setStyleStrategy(QFont::PreferNoShaping);
        doc.setDefaultFont(font);
        const QRect page = writer.pageLayout().paintRectPixels(writer.resolution());
        doc.setPageSize(QSizeF(page.size()));
        doc.setDocumentMargin(0);
        ChartHandler handler;
        handler.width = page.width();
        doc.documentLayout()->registerHandler(kChartObject, &handler);
        Builder builder(doc, handler);
        build(builder, data);
        builder.finish();

        QPainter painter;
        if (!painter.begin(&writer)) {
            *why = QStringLiteral("cannot draw the PDF %1").arg(path);
            return false;
        }
        const int pages = doc.pageCount();
        QFont footer = font;
        footer.setPointSizeF(7.5);
        for (int i = 0; i < pages; ++i) {
            if (i > 0)
                writer.newPage();
            painter.save();
            const QRectF clip(0, i * page.height(), page.width(), page.height());
            painter.translate(0, -clip.top());
            QAbstractTextDocumentLayout::PaintContext context;
            context.clip = clip;
            context.palette.setColor(QPalette::Text, Qt::black);
            painter.setClipRect(clip);
            doc.documentLayout()->draw(&painter, context);
            painter.restore();
            painter.setFont(footer);
            painter.drawText(QRectF(0, page.height() + 10, page.width(), 60), Qt::AlignRight | Qt::AlignTop,
                             QStringLiteral("KALVOR quality control · page %1 of %2").arg(i + 1).arg(pages));
        }
        painter.end();
    }
    if (!file.commit()) {
        *why = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace kalvor::batchwin

#include "QcReportPdf.moc"
