#pragma once
// A calibration curve as an object of a QTextDocument, drawn with QPainter
// wherever the document is painted (so into a PDF as lines and real text):
// the calibration points, the fitted curve over the calibrated range (dashed
// from zero to its start), the range's ends, and axes with ticks, numbers
// and units. The report puts one where its HTML has <a name="curve-N">.
#include "calib/Calibration.h"

#include <QObject>
#include <QSizeF>
#include <QTextObjectInterface>
#include <vector>

class QTextDocument;

namespace kalvor::report {

struct CurveData {
    calib::Calibration curve;
    std::vector<std::pair<double, double>> points;  // dose (kGy), response (mm⁻¹)
    QString title;
};

class CurvePlot : public QObject, public QTextObjectInterface {
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)
public:
    static constexpr int kObjectType = QTextFormat::UserObject + 1;

    // `sizeMm`: the plot's size on the page; `dpi`: the document's layout device's.
    CurvePlot(QSizeF sizeMm, double dpi, QObject* parent = nullptr);

    // Registers the plot with the document's layout and puts curve i of
    // `curves` where the document has the anchor "curve-i".
    void place(QTextDocument& document, std::vector<CurveData> curves);

    QSizeF intrinsicSize(QTextDocument* doc, int posInDocument, const QTextFormat& format) override;
    void drawObject(QPainter* painter, const QRectF& rect, QTextDocument* doc, int posInDocument,
                    const QTextFormat& format) override;

private:
    QSizeF size_;  // in layout units
    double dpi_;
    std::vector<CurveData> curves_;
};

} // namespace kalvor::report
