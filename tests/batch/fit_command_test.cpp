// kalvor-batch fit as a user runs it: the program on a CSV file, its JSON
// (the keys scripts rely on, numbers that read back as the fitted doubles),
// its tables, and its errors.
#include "batch/CalibrationCsv.h"
#include "calib/Fit.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kalvor;

namespace {

struct Outcome {
    int status = -1;
    QString out, err;
};

Outcome fit(const QStringList& arguments)
{
    QProcess p;
    p.start(QStringLiteral(KALVOR_BIN_DIR "/kalvor-batch"), QStringList{QStringLiteral("fit")} + arguments);
    EXPECT_TRUE(p.waitForFinished(30000));
    return Outcome{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
               QString::fromUtf8(p.readAllStandardError())};
}

// Duplicate films at five doses on a gently bending curve, an extra column.
const char* const kCalibration = "film,dose,response,note\n"
                                 "F1,0,0.021,\n"
                                 "F2,0,0.018,\n"
                                 "F3,5,0.262,\n"
                                 "F4,5,0.271,\"after, the gap\"\n"
                                 "F5,10,0.499,\n"
                                 "F6,10,0.486,\n"
                                 "F7,20,0.855,\n"
                                 "F8,20,0.866,\n"
                                 "F9,30,1.143,\n"
                                 "F10,30,1.131,\n";

QString writeFile(const QTemporaryDir& dir, const char* name, const QByteArray& text)
{
    QFile f(dir.filePath(QLatin1String(name)));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    return f.fileName();
}

} // namespace

TEST(FitCommand, WritesTheJsonScriptsRelyOn)
{
    QTemporaryDir dir;
    const QString file = writeFile(dir, "cal.csv", kCalibration);
    const Outcome run = fit({file, QStringLiteral("--model"), QStringLiteral("poly2"), QStringLiteral("--invert"),
                         QStringLiteral("0.3, 5"), QStringLiteral("--json")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(run.out.toUtf8()).object();

    QString why;
    const calib::FitResult direct = calib::fitCalibration(*calib::Model::parse(QStringLiteral("poly2"), false),
                                                          *batch::readCalibrationCsv(file, &why));
    ASSERT_TRUE(direct.ok());
    const calib::Calibration& c = *direct.calibration;
    EXPECT_EQ(o[QLatin1String("model")].toString(), QStringLiteral("poly2"));
    EXPECT_EQ(o[QLatin1String("through_zero")], QJsonValue(false));
    const QJsonArray parameters = o[QLatin1String("parameters")].toArray();
    ASSERT_EQ(parameters.size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(parameters[i][QLatin1String("name")].toString(), QStringLiteral("a%1").arg(i));
        EXPECT_EQ(parameters[i][QLatin1String("value")].toDouble(), c.parameters[size_t(i)]) << "round-trips";
        EXPECT_EQ(parameters[i][QLatin1String("u")].toDouble(), c.uncertainties[size_t(i)]);
        EXPECT_EQ(o[QLatin1String("covariance")][i].toArray().size(), 3);
    }
    EXPECT_EQ(o[QLatin1String("residual_sd")].toDouble(), c.residualSd);
    EXPECT_EQ(o[QLatin1String("dof")].toInt(), 7);
    EXPECT_EQ(o[QLatin1String("r_squared")].toDouble(), c.rSquared);
    const QJsonArray points = o[QLatin1String("points")].toArray();
    ASSERT_EQ(points.size(), 10);
    for (const char* key : {"dose", "response", "fitted", "residual"})
        EXPECT_TRUE(points[3][QLatin1String(key)].isDouble()) << key;
    EXPECT_EQ(points[3][QLatin1String("response")].toDouble(), 0.271);
    EXPECT_EQ(o[QLatin1String("range")][QLatin1String("min")].toDouble(), 0);
    EXPECT_EQ(o[QLatin1String("range")][QLatin1String("max")].toDouble(), 30);
    EXPECT_TRUE(o[QLatin1String("lack_of_fit")][QLatin1String("f")].isDouble());
    EXPECT_TRUE(o[QLatin1String("lack_of_fit")][QLatin1String("p")].isDouble());

    const QJsonArray doses = o[QLatin1String("doses")].toArray();
    ASSERT_EQ(doses.size(), 2);
    EXPECT_EQ(doses[0][QLatin1String("response")].toDouble(), 0.3);
    EXPECT_NEAR(c.response(doses[0][QLatin1String("dose")].toDouble()), 0.3, 1e-12);
    EXPECT_GT(doses[0][QLatin1String("u_fit")].toDouble(), 0);
    EXPECT_EQ(doses[0][QLatin1String("U")].toDouble(), 2 * doses[0][QLatin1String("u_c")].toDouble());
    EXPECT_TRUE(doses[0][QLatin1String("flag")].isNull());
    EXPECT_TRUE(doses[1][QLatin1String("dose")].isNull());
    EXPECT_EQ(doses[1][QLatin1String("flag")].toString(), QStringLiteral("above range"));
}

TEST(FitCommand, PrintsTablesAndSaysWhatIsWrong)
{
    QTemporaryDir dir;
    const QString file = writeFile(dir, "cal.csv", kCalibration);
    Outcome run = fit({file, QStringLiteral("--model"), QStringLiteral("exp"), QStringLiteral("--invert"), QStringLiteral("0.5,-1")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    for (const char* text : {"R = a·(1 − e^(−b·D)) + c", "residual SD", "lack of fit", "dose level", "below range"})
        EXPECT_TRUE(run.out.contains(QString::fromUtf8(text))) << text << "\n" << run.out.toStdString();

    run = fit({file, QStringLiteral("--compare"), QStringLiteral("--through-zero")});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    for (const QString& name : calib::Model::names())
        EXPECT_TRUE(run.out.contains(QRegularExpression(QStringLiteral("^%1 through zero +\\d").arg(name),
                                                        QRegularExpression::MultilineOption)))
            << name.toStdString() << "\n" << run.out.toStdString();

    const QString bad = writeFile(dir, "bad.csv", "dose,response\n0,0.02\n\n5,0.2x6\n");
    run = fit({bad, QStringLiteral("--model"), QStringLiteral("poly1")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("line 4: response \"0.2x6\" is not a number"))) << run.err.toStdString();

    run = fit({file, QStringLiteral("--model"), QStringLiteral("poly5")});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("poly1, poly2, poly3, poly4, exp, power"))) << run.err.toStdString();

    const QString few = writeFile(dir, "few.csv", "dose,response\n0,0.02\n10,0.49\n20,0.86\n20,0.85\n0,0.01\n10,0.5\n");
    run = fit({few, QStringLiteral("--model"), QStringLiteral("poly4"), QStringLiteral("--json")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("the fit is refused: poly4 needs films at 5 different doses"))) << run.err.toStdString();
    EXPECT_TRUE(QJsonDocument::fromJson(run.out.toUtf8())[QLatin1String("refused")].isString()) << run.out.toStdString();
}
