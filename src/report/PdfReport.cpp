#include "report/PdfReport.h"

#include "core/PrintableText.h"
#include "report/CurvePlot.h"
#include "report/ReportHtml.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QJsonArray>
#include <QJsonObject>
#include <QPainter>
#include <QPdfWriter>
#include <QTextDocument>

namespace kalvor::report {

using namespace kalvor::batch;

namespace {

constexpr int kDpi = 300;
constexpr double kMm = kDpi / 25.4;
constexpr double kHeadMm = 9;  // running head, above the text
constexpr double kFootMm = 9;  // foot, below it
const QString kFamily = QStringLiteral("Liberation Sans");

QFont font(double points, bool bold = false)
{
    QFont f(kFamily);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

std::vector<CurveData> curves(const ReportData& data)
{
    std::vector<CurveData> out;
    for (const ReportCalibration& c : data.calibrations) {
        if (!c.curve) {
            out.push_back({calib::Calibration(calib::Model(calib::Model::Family::Poly, 1, false)), {}, {}});
            continue;
        }
        CurveData d{*c.curve, {}, QStringLiteral("Calibration %1: lot %2, reader %3 at %4")
                                      .arg(c.record.seq)
                                      .arg(terminalText(c.record.lot), terminalText(c.record.readerSerial),
                                           terminalText(records::normalWavelength(c.record.wavelength)))};
        for (const QJsonValue& p : c.record.fit.value(QStringLiteral("points")).toArray())
            d.points.emplace_back(p[QStringLiteral("dose")].toDouble(), p[QStringLiteral("response")].toDouble());
        out.push_back(std::move(d));
    }
    return out;
}

void drawHead(QPainter& p, const ReportData& data, double width)
{
    p.setFont(font(7.5));
    p.setPen(QColor(90, 90, 90));
    const QRectF line(0, 0, width, 5 * kMm);
    const QString lab = data.lab.name.isEmpty() ? QString() : terminalText(data.lab.name) + QStringLiteral(" · ");
    p.drawText(line, Qt::AlignLeft | Qt::AlignVCenter, lab + reportTitle(data));
    p.drawText(line, Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("batch %1 · issued %2 UTC").arg(terminalText(data.batch.name), utcText(data.madeUtc)));
    p.setPen(QPen(QColor(150, 150, 150), 0.2 * kMm));
    p.drawLine(QPointF(0, 5.5 * kMm), QPointF(width, 5.5 * kMm));
}

void drawFoot(QPainter& p, const ReportData& data, double width, double top, int page, int pages)
{
    p.setPen(QPen(QColor(150, 150, 150), 0.2 * kMm));
    p.drawLine(QPointF(0, top + 3 * kMm), QPointF(width, top + 3 * kMm));
    p.setFont(font(7.5));
    p.setPen(QColor(60, 60, 60));
    const QRectF line(0, top + 3.5 * kMm, width, 5 * kMm);
    p.drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("batch %1 · made from the record store at chain head row %2, hash %3…")
                   .arg(terminalText(data.batch.name))
                   .arg(data.head.rows)
                   .arg(QString::fromLatin1(data.head.hash.left(16))));
    p.setFont(font(7.5, true));
    p.drawText(line, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("page %1 of %2").arg(page).arg(pages));
}

} // namespace

QPageSize pageSizeFor(const QLocale& locale)
{
    const bool letter = locale.measurementSystem() == QLocale::ImperialUSSystem
                        || locale.territory() == QLocale::UnitedStates || locale.territory() == QLocale::Canada;
    return QPageSize(letter ? QPageSize::Letter : QPageSize::A4);
}

RenderedReport renderReport(const ReportData& data, const QPageSize& pageSize)
{
    RenderedReport out;
    QBuffer buffer(&out.pdf);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setPdfVersion(QPagedPaintDevice::PdfVersion_A1b);
        writer.setResolution(kDpi);
        writer.setCreator(QStringLiteral("kalvor-batch %1").arg(QStringLiteral(KALVOR_VERSION)));
        writer.setTitle(QStringLiteral("%1, batch %2").arg(reportTitle(data), terminalText(data.batch.name)));
        writer.setPageLayout(QPageLayout(pageSize, QPageLayout::Portrait, QMarginsF(18, 12, 18, 12), QPageLayout::Millimeter));

        QTextDocument doc;
        doc.documentLayout()->setPaintDevice(&writer);
        doc.setDocumentMargin(0);
        doc.setDefaultFont(font(8.5));
        // Lengths in the HTML are pixels of 96 per inch, which the layout
        // scales to the writer's resolution.
        doc.setHtml(reportHtml(data, 96.0 / 72.0));
        CurvePlot plot(QSizeF(130, 78), kDpi);
        plot.place(doc, curves(data));

        const double width = writer.width();
        const double body = writer.height() - (kHeadMm + kFootMm) * kMm;
        doc.setPageSize(QSizeF(width, body));
        out.pages = doc.pageCount();

        QPainter painter(&writer);
        for (int page = 0; page < out.pages; ++page) {
            if (page > 0) {
                writer.newPage();
                drawHead(painter, data, width);
            }
            painter.save();
            painter.translate(0, kHeadMm * kMm - page * body);
            const QRectF clip(0, page * body, width, body);
            painter.setClipRect(clip);
            QAbstractTextDocumentLayout::PaintContext context;
            context.clip = clip;
            context.palette.setColor(QPalette::Text, Qt::black);
            doc.documentLayout()->draw(&painter, context);
            painter.restore();
            drawFoot(painter, data, width, kHeadMm * kMm + body, page + 1, out.pages);
        }
    }
    return out;
}

} // namespace kalvor::report
