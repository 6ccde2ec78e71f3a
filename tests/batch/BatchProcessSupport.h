#pragma once
// kalvor --simulate and kalvor-batch as child processes in one sandbox, and a
// link client that plays the hand at the head: it slides films in and out
// through the simulator topic and watches the head's LED and buzzer.
#include "faults/FaultSupport.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <gtest/gtest.h>

namespace kalvor::batchtest {

using faulttest::Child;
using faulttest::ItemLine;
using faulttest::LineClient;
using faulttest::Sandbox;

// Waits until the child's standard error holds `text`.
inline bool waitForOutput(Child& child, const QByteArray& text, int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        if (child.standardError().contains(text))
            return true;
        if (!child.running())
            return false;
        QThread::msleep(50);
    }
    return false;
}

// kalvor-batch with its window on batch `batch` (IDs E-001, E-002, ...),
// once it has linked to the program.
inline std::unique_ptr<Child> startBatch(const Sandbox& box, const QString& store, const QString& childName,
                                         const QString& batch = QStringLiteral("e2e"), const QString& prefix = QStringLiteral("E-"))
{
    auto child = std::make_unique<Child>(box, "kalvor-batch",
                                         QStringList{"--batch", batch, "--prefix", prefix, "--store", store}, childName);
    if (!waitForOutput(*child, "connected to KALVOR", 10000))
        ADD_FAILURE() << "kalvor-batch did not link: " << child->standardError().toStdString();
    return child;
}

// The hand at the head, and what the head's LED and buzzer do.
class Hand {
public:
    // Links the LED and the buzzer once the reader has zeroed on the empty
    // holder and taken its first reading.
    bool open(const QString& socketPath)
    {
        if (!link_.open(socketPath) || !faulttest::subscribeAndWaitReading(link_))
            return false;
        return link_.ask("UNSUB data A", "OK UNSUB") == QByteArray("OK UNSUB data A")
               && link_.ask("SUB simulator led HOT", "OK SUB") == QByteArray("OK SUB simulator led HOT")
               && link_.ask("SUB simulator buzzer HOT", "OK SUB") == QByteArray("OK SUB simulator buzzer HOT");
    }

    // PUT simulator ITEM "VALUE"; the updates that come before the answer count too.
    bool put(const QByteArray& item, const QByteArray& value) { return putItem("simulator", item, value); }
    bool putItem(const QByteArray& topic, const QByteArray& item, const QByteArray& value)
    {
        if (!link_.sendLine("PUT " + topic + " " + item + " \"" + value + "\""))
            return false;
        while (const std::optional<QByteArray> line = link_.readLine(3000)) {
            if (line->startsWith("OK PUT"))
                return true;
            if (line->startsWith("ERR"))
                return false;
            if (const std::optional<ItemLine> u = ItemLine::parse(*line))
                track(*u);
        }
        return false;
    }

    // Waits until the LED shows `on`; counts the switchings on the way.
    bool waitLed(bool on, int ms)
    {
        const QByteArray want = on ? "1" : "0";
        QElapsedTimer t;
        t.start();
        if (led_ == want)
            return true;
        while (t.elapsed() < ms) {
            const std::optional<ItemLine> u = faulttest::nextUpdate(link_, int(ms - t.elapsed()));
            if (!u)
                return false;
            track(*u);
            if (led_ == want)
                return true;
        }
        return false;
    }
    // What became of the film in the head: the LED confirmed it, or the
    // long beep refused it (the buzzer sounds with the LED off).
    enum class Outcome { Confirmed, Refused, Nothing };
    Outcome waitOutcome(int ms)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            const std::optional<ItemLine> u = faulttest::nextUpdate(link_, int(ms - t.elapsed()));
            if (!u)
                break;
            track(*u);
            if (u->item == "led" && led_ == "1")
                return Outcome::Confirmed;
            if (u->item == "buzzer" && buzzer_ == "1" && led_ != "1")
                return Outcome::Refused;
        }
        return Outcome::Nothing;
    }
    // The head's button pressed and let go.
    bool pressButton()
    {
        const bool down = put("button", "1");
        QThread::msleep(200);
        return put("button", "0") && down;
    }

    // Takes in what has come without waiting.
    void drain(int ms = 300)
    {
        while (const std::optional<ItemLine> u = faulttest::nextUpdate(link_, ms))
            track(*u);
    }

    int ledOns = 0;
    int buzzerOns = 0;

private:
    void track(const ItemLine& u)
    {
        if (u.item == "led") {
            if (u.text() == "1" && led_ != "1")
                ++ledOns;
            led_ = u.text();
        } else if (u.item == "buzzer") {
            if (u.text() == "1" && buzzer_ != "1")
                ++buzzerOns;
            buzzer_ = u.text();
        }
    }

    LineClient link_;
    QByteArray led_;
    QByteArray buzzer_;
};

// Runs `sql` on the store as another program would; the rows of the last query.
inline QList<QVariantList> query(const QString& path, const QStringList& sql)
{
    QList<QVariantList> rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("outside"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            for (const QString& s : sql) {
                rows.clear();
                if (!q.exec(s)) {
                    rows.append(QVariantList{QStringLiteral("error: ") + q.lastError().text()});
                    break;
                }
                while (q.next()) {
                    QVariantList r;
                    for (int i = 0; i < q.record().count(); ++i)
                        r << q.value(i);
                    rows << r;
                }
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("outside"));
    return rows;
}

} // namespace kalvor::batchtest
