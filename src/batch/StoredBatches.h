#pragma once
// The batches of the record store as a choice for the user (the calibration
// batch, a batch of unirradiated films for a lot's background): each with the
// number of its current readings and the wavelengths and readers they were
// read at, newest first.
#include "records/RecordStore.h"

#include <QList>
#include <QStringList>

namespace kalvor::batch {

struct StoredBatch {
    records::BatchRecord batch;
    int films = 0;            // current readings with an absorbance
    QStringList wavelengths;  // "510 nm", in the order first read
    QStringList readers;      // serial numbers
};

QList<StoredBatch> storedBatches(const records::RecordStore& store);

// "cal-L7 · lot L7 · 15 films at 510 nm · 2026-12-07"
QString batchChoiceText(const StoredBatch& b);

} // namespace kalvor::batch
