#pragma once
// Comma-separated values as RFC 4180 has them: fields separated by commas,
// records ended by CR LF, a field in double quotes when it holds a comma, a
// quote, a line break or a blank at either end, and quotes doubled inside.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace kalvor::records::csv {

QString field(const QString& text);
// One record with its CR LF, UTF-8.
QByteArray record(const QStringList& fields);

// A cell that a spreadsheet would take for a formula (one that begins with
// =, +, -, @, a tab or a carriage return) with a ' put before it, as OWASP
// recommends against CSV injection; a plain number such as -0.004 or +1e-3
// stays as it is. Everything else is unchanged.
QString neutralised(const QString& cell);
// A number with a decimal point whatever the locale, shortest exact form.
QString number(double value);

// Records of a CSV text (CR LF, LF or CR line ends; a UTF-8 byte order mark
// is skipped). Fails on a quote that is never closed or text after a
// closing quote; `why` says where. `lines`, when given, gets the line each
// record starts on (from 1; blank lines are skipped, so they may differ from
// the record's place).
bool parse(const QString& text, QList<QStringList>* records, QString* why, QList<int>* lines = nullptr);

} // namespace kalvor::records::csv
