// Which of a lot's calibrations gives doses, as the Calibration window lists
// them: a draft until approved, approved while its approval is the latest for
// its lot, reader and wavelength, superseded (by which) once another is
// approved; and a lot's change keeps what it does not give.
#include "batch/BatchTestSupport.h"

#include "batch/CalibrationBuilder.h"
#include "batch/CalibrationFigures.h"
#include "batch/CalibrationStates.h"
#include "batch/Lots.h"
#include "calib/CalibrationJson.h"

using namespace kalvor;
using namespace kalvor::batch;
using namespace kalvor::batchtest;

namespace {

qint64 addCalibration(RecordStore& store, const QString& wavelength)
{
    const std::vector<calib::Point> points{{0, 0.01}, {10, 1.02}, {20, 1.98}, {30, 3.01}};
    CalibrationRecord c;
    c.lot = QStringLiteral("L1");
    c.readerSerial = QStringLiteral("1500");
    c.wavelength = wavelength;
    c.model = QStringLiteral("poly1");
    c.fit = calib::calibrationToJson(*calib::fitCalibration(*calib::Model::parse(c.model, false), points).calibration);
    QString why;
    return appendCalibration(store, c, &why).value_or(0);
}

} // namespace

TEST(CalibrationStates, ApprovalsSupersedePerReaderAndWavelength)
{
    TempStore t;
    ASSERT_TRUE(t.open());
    QString why;
    const qint64 first = addCalibration(t.store, QStringLiteral("510 nm"));
    const qint64 second = addCalibration(t.store, QStringLiteral("510"));
    const qint64 other = addCalibration(t.store, QStringLiteral("600 nm"));
    const qint64 draft = addCalibration(t.store, QStringLiteral("510 nm"));
    for (qint64 id : {first, second, other})
        ASSERT_TRUE(approveCalibration(t.store, id, QStringLiteral("QA"), QStringLiteral("checked"), &why)) << why.toStdString();

    const QList<StoredCalibration> list = storedCalibrations(t.store, QStringLiteral("L1"));
    ASSERT_EQ(list.size(), 4);
    EXPECT_EQ(list[0].state, CalibrationState::Superseded);
    EXPECT_EQ(list[0].supersededBy, std::optional<qint64>(second));
    EXPECT_EQ(list[1].state, CalibrationState::Approved);
    EXPECT_EQ(list[2].state, CalibrationState::Approved) << "another wavelength is approved on its own";
    EXPECT_EQ(list[3].state, CalibrationState::Draft);
    EXPECT_EQ(list[3].record.seq, draft);
    EXPECT_EQ(list[1].approval->reason, QStringLiteral("checked"));
    EXPECT_EQ(approvedCalibrations(t.store, QStringLiteral("L1")).size(), 2);
}

TEST(CalibrationStates, ALotChangeKeepsWhatItDoesNotGive)
{
    TempStore t;
    ASSERT_TRUE(t.open());
    QString why;
    LotChange add{QStringLiteral("L1"), 0.1, 0.002, QStringLiteral("film"), QString(),
                  {*typedBackground(0.15, QStringLiteral("510"), &why)}, QStringLiteral("ann")};
    const std::optional<LotRecord> lot = changedLot(t.store, add, &why);
    ASSERT_TRUE(lot) << why.toStdString();
    const qint64 row = appendLot(t.store, *lot, &why).value_or(0);

    LotChange change{QStringLiteral("L1"), std::nullopt, std::nullopt, std::nullopt, QStringLiteral("kept dark"),
                     {*typedBackground(0.08, QStringLiteral("600 nm"), &why)}, QString()};
    const std::optional<LotRecord> changed = changedLot(t.store, change, &why);
    ASSERT_TRUE(changed) << why.toStdString();
    EXPECT_EQ(changed->supersedes, std::optional<qint64>(row));
    EXPECT_DOUBLE_EQ(changed->thicknessUMm, 0.002);
    EXPECT_EQ(changed->filmType, QStringLiteral("film"));
    EXPECT_EQ(changed->backgrounds.size(), 2);

    change.thicknessUMm = 0.1;  // not below the thickness
    EXPECT_FALSE(changedLot(t.store, change, &why));
    change.name = QStringLiteral("L2");
    change.thicknessUMm.reset();
    EXPECT_FALSE(changedLot(t.store, change, &why)) << "a new lot needs its thickness";
    EXPECT_FALSE(typedBackground(0.1, QStringLiteral("blue"), &why));
}

TEST(CalibrationStates, PlotAxesEndOnRoundNumbersNearTheData)
{
    for (const auto& [low, high, min, max, ticks] : {std::tuple{0.0, 61.2, 0.0, 70.0, 8}, std::tuple{0.0, 14.4, 0.0, 15.0, 7},
                                                     std::tuple{-1.45, 1.45, -1.5, 1.5, 7}}) {
        const AxisScale a = niceAxis(low, high);
        EXPECT_DOUBLE_EQ(a.min, min) << high;
        EXPECT_DOUBLE_EQ(a.max, max) << high;
        EXPECT_EQ(a.ticks, ticks) << high;
    }
}
