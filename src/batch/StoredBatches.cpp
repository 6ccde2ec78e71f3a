#include "batch/StoredBatches.h"

#include "records/Calibrations.h"
#include "records/CurrentRecords.h"

#include <QSqlQuery>

namespace kalvor::batch {

using namespace kalvor::records;

QList<StoredBatch> storedBatches(const RecordStore& store)
{
    QList<qint64> seqs;
    {
        QSqlQuery q(store.database());
        q.setForwardOnly(true);
        if (q.exec(QStringLiteral("SELECT seq FROM batches ORDER BY seq DESC")))
            while (q.next())
                seqs << q.value(0).toLongLong();
    }
    QList<StoredBatch> out;
    for (qint64 seq : std::as_const(seqs)) {
        const std::optional<BatchRecord> batch = store.batch(seq);
        if (!batch)
            continue;
        StoredBatch b{*batch, 0, {}, {}};
        const QList<ReadingRecord> readings = store.readings(seq);
        const QSet<qint64> superseded = supersededReadings(readings);
        for (const ReadingRecord& r : readings) {
            if (superseded.contains(r.seq) || r.isVoid() || !r.absorbance)
                continue;
            ++b.films;
            if (const QString wl = normalWavelength(r.wavelength); !b.wavelengths.contains(wl))
                b.wavelengths << wl;
            if (!b.readers.contains(r.readerSerial))
                b.readers << r.readerSerial;
        }
        out << b;
    }
    return out;
}

QString batchChoiceText(const StoredBatch& b)
{
    QStringList parts{b.batch.name};
    if (!b.batch.lot.isEmpty())
        parts << QStringLiteral("lot %1").arg(b.batch.lot);
    parts << (b.wavelengths.isEmpty() ? QStringLiteral("%1 %2").arg(b.films).arg(b.films == 1 ? QStringLiteral("film") : QStringLiteral("films"))
                                      : QStringLiteral("%1 %2 at %3")
                                            .arg(b.films)
                                            .arg(b.films == 1 ? QStringLiteral("film") : QStringLiteral("films"),
                                                 b.wavelengths.join(QStringLiteral(" and "))));
    parts << b.batch.openedUtc.left(10);
    return parts.join(QStringLiteral(" \u00B7 "));
}

} // namespace kalvor::batch
