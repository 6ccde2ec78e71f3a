#pragma once
// Shared pieces of the batch tests: a record store in a temporary folder, a
// reading record filled in, and a link server with the reader's topics that
// a test drives as the KALVOR program would.
#include "records/RecordStore.h"
#include "batch/Stability.h"
#include "link/LinkServer.h"
#include "link/LinkTopic.h"

#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace kalvor::batchtest {

struct TempStore {
    QTemporaryDir dir;
    QString path = dir.path() + QStringLiteral("/KALVOR/records.sqlite");
    records::RecordStore store;

    bool open()
    {
        QString why;
        const bool ok = store.open(path, records::RecordStore::OpenMode::CreateIfMissing, &why)
                        == records::RecordStore::OpenError::None;
        EXPECT_TRUE(ok) << why.toStdString();
        return ok;
    }
};

inline records::ReadingRecord sampleReading(qint64 batchSeq, const QString& id, double a)
{
    records::ReadingRecord r;
    r.batch = batchSeq;
    r.dosimeterId = id;
    r.timeUtc = records::utcNow();
    r.shown = batch::shownText(a);
    r.absorbance = a;
    r.spread = 0.001;
    r.count = 3;
    r.wavelength = QStringLiteral("510 nm");
    r.zero = QStringLiteral("1.234");
    r.zeroUtc = QStringLiteral("2026-12-07T10:00:00.000Z");
    r.readerModel = QStringLiteral("1500");
    r.readerSerial = QStringLiteral("1500");
    r.readerGain = QStringLiteral("1.9");
    r.status = QStringLiteral("ok");
    r.operatorName = QStringLiteral("tester");
    r.programVersion = QStringLiteral("1.0.0");
    r.trigger = QStringLiteral("sensor");
    return r;
}

inline records::EventRecord sampleEvent(const QString& kind, std::optional<qint64> batchSeq = std::nullopt)
{
    records::EventRecord e;
    e.timeUtc = records::utcNow();
    e.kind = kind;
    e.batch = batchSeq;
    e.operatorName = QStringLiteral("tester");
    e.programVersion = QStringLiteral("1.0.0");
    return e;
}

// Topic "reader" as the program serves it: read-only items the test sets,
// led and beep writable. Every accepted PUT is kept, and `onPut` runs first.
class FakeReaderTopic : public LinkTopic {
public:
    FakeReaderTopic()
        : LinkTopic(QStringLiteral("reader"),
                    {QStringLiteral("model"), QStringLiteral("serial"), QStringLiteral("gain"),
                     QStringLiteral("wavelength"), QStringLiteral("zero"), QStringLiteral("zeroTime"),
                     QStringLiteral("zeroStatus"), QStringLiteral("reading"), QStringLiteral("status"), QStringLiteral("dosimeter"),
                     QStringLiteral("button"), QStringLiteral("led"), QStringLiteral("beep")})
    {
    }
    PutResult put(const QString& item, const QString& text) override
    {
        if (item != QLatin1String("led") && item != QLatin1String("beep") && item != QLatin1String("zero"))
            return LinkTopic::put(item, text);
        if (onPut)
            onPut(item, text);
        puts.append(item + QLatin1Char('=') + text);
        set(item, text);
        return {};
    }
    QStringList puts;
    std::function<void(const QString&, const QString&)> onPut;
};

// The program's side of the link: topics data and reader on a private socket.
struct FakeKalvor {
    QTemporaryDir dir;
    QString socketPath = dir.path() + QStringLiteral("/link.sock");
    LinkTopic data{QStringLiteral("data"),
                   {QStringLiteral("A"), QStringLiteral("WL"), QStringLiteral("lblA1"), QStringLiteral("lblA2"),
                    QStringLiteral("na"), QStringLiteral("nb"), QStringLiteral("nc")}};
    FakeReaderTopic reader;
    std::unique_ptr<LinkServer> server;

    void start()
    {
        server = std::make_unique<LinkServer>(QList<LinkTopic*>{&data, &reader});
        QString why;
        ASSERT_TRUE(server->listen(socketPath, &why)) << why.toStdString();
    }
    void stop() { server.reset(); }

    void identity()
    {
        reader.set(QStringLiteral("model"), QStringLiteral("1500"));
        reader.set(QStringLiteral("serial"), QStringLiteral("1500"));
        reader.set(QStringLiteral("gain"), QStringLiteral("1.9"));
        reader.set(QStringLiteral("wavelength"), QStringLiteral("510 nm"));
        reader.set(QStringLiteral("zero"), QStringLiteral("1.234"));
        reader.set(QStringLiteral("zeroTime"), QStringLiteral("2026-12-07T10:00:00.000Z"));
        reader.set(QStringLiteral("zeroStatus"), QStringLiteral("ok"));
        reader.set(QStringLiteral("status"), QStringLiteral("ok"));
        reader.set(QStringLiteral("dosimeter"), QStringLiteral("0"));
        reader.set(QStringLiteral("button"), QStringLiteral("0"));
    }
    // A zero taken now, judged `status`.
    void zero(const QString& status, const QString& volts = QStringLiteral("1.2000"))
    {
        reader.set(QStringLiteral("zero"), volts);
        reader.set(QStringLiteral("zeroStatus"), status);
        reader.set(QStringLiteral("zeroTime"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    }
    // One reading cycle: status before A, the sensor after it.
    void reading(const QString& a, const QString& status = QStringLiteral("ok"))
    {
        reader.set(QStringLiteral("status"), status);
        data.set(QStringLiteral("A"), a);
    }
};

} // namespace kalvor::batchtest
