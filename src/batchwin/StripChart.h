#pragma once
// The readings of the last two minutes as a line, with the stability band
// (the median of the readings that count, ± the band) while a film is read.
#include "batch/ReadingHistory.h"

#include <QWidget>
#include <optional>

namespace kalvor::batchwin {

class StripChart : public QWidget {
    Q_OBJECT
public:
    explicit StripChart(QWidget* parent = nullptr);

    void setHistory(const batch::ReadingHistory* history) { history_ = history; update(); }
    // The band to draw: centre ± half-width; nothing hides it.
    void setBand(std::optional<double> centre, double halfWidth);

    QSize sizeHint() const override { return {520, 200}; }
    QSize minimumSizeHint() const override { return {240, 120}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const batch::ReadingHistory* history_ = nullptr;
    std::optional<double> centre_;
    double halfWidth_ = 0;
};

} // namespace kalvor::batchwin
