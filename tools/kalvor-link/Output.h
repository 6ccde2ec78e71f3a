#pragma once
// How kalvor-link prints what it receives: plain text lines, CSV (RFC 4180,
// header name,time,seq,value) or one JSON object per line.
#include "Commands.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace kalvor::tool {

// One value of an item as received.
struct Shown {
    QString name;                  // as the user wrote it
    QString time;                  // as served: UTC ISO 8601, or "-" when never set
    quint64 seq = 0;
    std::optional<QString> value;  // none: a warm link's announcement of a change
};

// The served time as the user asked for it: UTC as served, or local time with
// its offset from UTC. "-" (never set) stays as it is.
QString shownTime(const Options& options, const QString& servedTime);

// A line of get, with its line end: "NAME VALUE", with -a "NAME TIME SEQ VALUE".
QByteArray getLine(const Options& options, const Shown& shown);
// A line of monitor in the chosen format, with its line end.
QByteArray monitorLine(const Options& options, const Shown& shown);
// What monitor prints before its first line: the CSV header, else nothing.
QByteArray monitorHeader(const Options& options);

QByteArray csvField(const QString& text);
QByteArray jsonString(const QString& text);

} // namespace kalvor::tool
