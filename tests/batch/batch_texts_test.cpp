// Texts in and out of kalvor-batch: CSV fields and records, ID lists typed,
// pasted or imported, the IDs that count up, and numbers whatever the locale.
#include "records/Csv.h"
#include "batch/IdPlan.h"
#include "batch/Stability.h"

#include <QLocale>
#include <gtest/gtest.h>

using namespace kalvor::batch;
using namespace kalvor::records;

TEST(Csv, QuotesOnlyWhatNeedsItAndReadsItBack)
{
    EXPECT_EQ(csv::record({QStringLiteral("F-001"), QStringLiteral(" 0.512"), QStringLiteral("a,b"),
                           QStringLiteral("say \"hi\""), QStringLiteral("two\nlines"), QString()}),
              QByteArray("F-001,\" 0.512\",\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\",\r\n"));
    QList<QStringList> records;
    QString why;
    ASSERT_TRUE(csv::parse(QStringLiteral("\xFEFFid,value\r\n\"a,1\",\" 0.5\"\n\n\"x\"\"y\",\"l1\nl2\"\r\nlast,"),
                           &records, &why));
    ASSERT_EQ(records.size(), 4);
    EXPECT_EQ(records[0], (QStringList{QStringLiteral("id"), QStringLiteral("value")}));
    EXPECT_EQ(records[1], (QStringList{QStringLiteral("a,1"), QStringLiteral(" 0.5")}));
    EXPECT_EQ(records[2], (QStringList{QStringLiteral("x\"y"), QStringLiteral("l1\nl2")}));
    EXPECT_EQ(records[3], (QStringList{QStringLiteral("last"), QString()}));
    EXPECT_FALSE(csv::parse(QStringLiteral("\"open"), &records, &why));
    EXPECT_FALSE(csv::parse(QStringLiteral("\"a\"b"), &records, &why));
}

TEST(Csv, NumbersHaveADecimalPointInEveryLocale)
{
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(csv::number(0.5125), QStringLiteral("0.5125"));
    EXPECT_EQ(shownText(0.5), QStringLiteral(" 0.500"));
    EXPECT_EQ(makeReading(QStringLiteral(" 0.512"), QStringLiteral("ok"), {}).value, std::optional<double>(0.512));
    QLocale::setDefault(before);
    EXPECT_EQ(shownText(-0.004), QStringLiteral("-0.004"));
    EXPECT_EQ(shownText(3.0005), QStringLiteral(">3.0"));
    EXPECT_FALSE(makeReading(QStringLiteral(">3.0"), QStringLiteral("ok"), {}).value);
}

TEST(IdPlan, CountsUpAfterTheHighestNumberUsedOrFollowsItsList)
{
    IdPlan counting(QStringLiteral("F-"), QStringLiteral("007"));
    EXPECT_EQ(counting.next({}), QStringLiteral("F-007"));
    EXPECT_EQ(counting.next({QStringLiteral("F-007"), QStringLiteral("F-012"), QStringLiteral("G-099")}),
              QStringLiteral("F-013"));
    EXPECT_EQ(IdPlan(QStringLiteral("x"), QStringLiteral("1")).next({QStringLiteral("x9")}), QStringLiteral("x10"));

    IdPlan listed;
    listed.setEntries(IdPlan::entriesOf(IdPlan::parseText(QStringLiteral(" B2 \nA1;\tC3\n\n"))));
    EXPECT_EQ(listed.list(), (QStringList{QStringLiteral("B2"), QStringLiteral("A1"), QStringLiteral("C3")}));
    EXPECT_EQ(listed.next({QStringLiteral("B2")}), QStringLiteral("A1"));
    EXPECT_EQ(listed.remaining({QStringLiteral("B2")}), 2);
    EXPECT_FALSE(listed.next({QStringLiteral("A1"), QStringLiteral("B2"), QStringLiteral("C3")}));
    QString why;
    EXPECT_FALSE(IdPlan::checkList(IdPlan::entriesOf(IdPlan::parseText(QStringLiteral("B2\nA1,B2"))), &why));
    EXPECT_TRUE(why.contains(QStringLiteral("twice: B2"))) << why.toStdString();
}

TEST(IdPlan, ImportsTheIdColumnOfACsvFileAndSaysWhereItIsWrong)
{
    QString why;
    const auto ids = [](const std::optional<QList<IdEntry>>& entries) {
        QStringList out;
        for (const IdEntry& e : entries.value_or(QList<IdEntry>()))
            out << e.id;
        return out;
    };
    EXPECT_EQ(ids(IdPlan::parseCsv(QStringLiteral("lot,Dosimeter ID\nL1,D-1\n\nL1,\"D-2\"\r\n"), &why)),
              (QStringList{QStringLiteral("D-1"), QStringLiteral("D-2")}));
    EXPECT_EQ(ids(IdPlan::parseCsv(QStringLiteral("D-9,0.5\nD-8,0.6\n"), &why)),
              (QStringList{QStringLiteral("D-9"), QStringLiteral("D-8")}));

    const std::optional<QList<IdEntry>> placed = IdPlan::parseCsv(
        QStringLiteral("id,Thickness,position\nF-1,0.105,\"top, front\"\nF-2,,centre\n"), &why);
    ASSERT_TRUE(placed) << why.toStdString();
    EXPECT_EQ(placed->at(0), (IdEntry{QStringLiteral("F-1"), 0.105, QStringLiteral("top, front")}));
    EXPECT_EQ(placed->at(1), (IdEntry{QStringLiteral("F-2"), std::nullopt, QStringLiteral("centre")}));
    EXPECT_EQ(IdPlan::fromStored(IdPlan::toStored(*placed)), *placed) << "kept in the store as it was given";
    EXPECT_EQ(IdPlan::fromStored(QStringLiteral("A\nB")), IdPlan::entriesOf({QStringLiteral("A"), QStringLiteral("B")}));

    for (const auto& [text, where] : QList<std::pair<QString, QString>>{
             {QStringLiteral("id\nD-1\n\nD-2\nD-1\n"), QStringLiteral("line 5: dosimeter ID D-1 is listed twice (first on line 2)")},
             {QStringLiteral("id\nbad\x01id\n"), QStringLiteral("line 2: \"bad\\x01id\" is not a usable dosimeter ID: it holds control characters")},
             {QStringLiteral("id,lot\n,L1\n"), QStringLiteral("line 2: no dosimeter ID")},
             {QStringLiteral("id,thickness\nF-1,0.1mm\n"), QStringLiteral("line 2: thickness \"0.1mm\"")}}) {
        EXPECT_FALSE(IdPlan::parseCsv(text, &why)) << text.toStdString();
        EXPECT_TRUE(why.startsWith(where)) << why.toStdString();
    }
    EXPECT_FALSE(IdPlan::isValidId(QString(65, QLatin1Char('x'))));
}
