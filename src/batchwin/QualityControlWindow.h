#pragma once
// The Quality Control window: the filter checks' control charts (I-MR with
// the run rules where they fire), the reader's zero with its trend, the
// verifications of calibrations per lot, and every filter result against its
// reference; the period shown and the baseline of the limits; CSV and PDF.
// It reads what the store holds (QualityControl.h) and refreshes when a
// filter check is recorded.
#include "batch/BatchSession.h"
#include "batch/QualityControl.h"

#include <QWidget>

class QCheckBox;
class QChartView;
class QDateEdit;
class QLabel;
class QListWidget;
class QRadioButton;
class QTableWidget;
class QTabWidget;

namespace kalvor::batchwin {

class QualityControlWindow : public QWidget {
    Q_OBJECT
public:
    explicit QualityControlWindow(batch::BatchSession& session, QWidget* parent = nullptr);

    void refresh();
    const batch::QcData& data() const { return data_; }
    QTabWidget* tabs() const { return tabs_; }

private:
    batch::QcOptions options() const;
    void showSeries(int row);
    void showZero(int row);
    void showLot(int row);
    void saveCsv();
    void savePdf();

    batch::BatchSession& session_;
    batch::QcData data_;
    QCheckBox* limitPeriod_;
    QDateEdit* from_;
    QDateEdit* to_;
    QRadioButton* firstChecks_;
    QRadioButton* fixedBaseline_;
    QDateEdit* baselineFrom_;
    QDateEdit* baselineTo_;
    QTabWidget* tabs_;
    QListWidget* seriesList_;
    QChartView* individuals_;
    QChartView* movingRange_;
    QLabel* findings_;
    QListWidget* zeroList_;
    QChartView* zeroView_;
    QLabel* zeroText_;
    QListWidget* lotList_;
    QChartView* lotView_;
    QTableWidget* lotTable_;
    QTableWidget* results_;
};

} // namespace kalvor::batchwin
