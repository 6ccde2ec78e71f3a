#pragma once
// The batch window: the reading now (large, with its status), which film is
// next, what the capture is doing, a strip chart of the last two minutes with
// the stability band, the batch's records, and the link's state. It only
// shows what the BatchSession signals and passes the user's commands to it.
#include "batch/BatchSession.h"
#include "batchwin/RecordTableModel.h"

#include <QMainWindow>
#include <QPointer>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace kalvor::batchwin {

class QualityControlWindow;
class CalibrationWindow;
class StripChart;

class BatchWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit BatchWindow(batch::BatchSession& session, QWidget* parent = nullptr);

    // The dialogs behind the menu, also for the program's start.
    bool newBatch(const batch::BatchOptions& preset = {});
    void editIds();
    void exportCsv();
    // File > Report: asks where, then reportTo().
    void report();
    // The batch's report as a PDF at `path`, recorded in the store; says why not.
    bool reportTo(const QString& path);
    void editRule();
    void correctSelected();
    // Capture (F5): a film held in the head is read again, for a reason asked first.
    void captureNow();
    void voidId(const QString& id = {});
    // File > Reference Filters, File > Quality Control.
    void editReferenceFilters();
    void showQualityControl();
    void scanned(const QString& id);
    // File > Lots (a dialog) and File > Calibration (a window of its own).
    void showLots();
    CalibrationWindow* showCalibration();

    QString captureText() const;

private:
    void buildMenus();
    void showBatch();
    void showReader();
    void showReading(const batch::Reading& reading);
    void showDose(const batch::Reading& reading);
    void showCapture();
    void showLink(batch::LinkSession::State state, const QString& text);
    void showNextId();
    void updateBand();
    void showAttention();

    batch::BatchSession& session_;
    RecordTableModel records_;
    QLabel* linkDot_;
    QLabel* linkText_;
    QLabel* readerText_;
    QLabel* batchText_;
    QLabel* reading_;
    QLabel* status_;
    QLabel* dose_;      // the reading's dose ± U, for a batch of a calibrated lot
    QLabel* decision_;  // against the batch's limits, as a word in its colour
    QLabel* capture_;
    QLabel* wavelengthWarning_;
    QLabel* nextLabel_;
    QLabel* nextId_;
    QLineEdit* scan_;
    QPushButton* captureButton_;
    StripChart* chart_;
    QTableView* table_;
    QFrame* attention_;
    QLabel* attentionText_;
    QPushButton* readAgainButton_;
    QPushButton* voidButton_;
    QPushButton* zeroButton_;
    QualityControlWindow* qualityControl_ = nullptr;
    QPointer<CalibrationWindow> calibration_;
    QString refusal_;    // the last refusal, until the next film
    QString lastStored_; // the last stored record, until the film is removed
};

} // namespace kalvor::batchwin
