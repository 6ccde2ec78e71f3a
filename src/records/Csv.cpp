#include "records/Csv.h"

#include <QLocale>
#include <QRegularExpression>

namespace kalvor::records::csv {

QString field(const QString& text)
{
    const bool quote = text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"'))
                       || text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'))
                       || (!text.isEmpty() && (text.front().isSpace() || text.back().isSpace()));
    if (!quote)
        return text;
    QString out = text;
    out.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

QByteArray record(const QStringList& fields)
{
    QStringList quoted;
    quoted.reserve(fields.size());
    for (const QString& f : fields)
        quoted << field(f);
    return quoted.join(QLatin1Char(',')).toUtf8() + "\r\n";
}

QString neutralised(const QString& cell)
{
    static const QString triggers = QStringLiteral("=+-@\t\r");
    if (cell.isEmpty() || !triggers.contains(cell.front()))
        return cell;
    static const QRegularExpression plainNumber(QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
    if (plainNumber.match(cell).hasMatch())
        return cell;
    return QLatin1Char('\'') + cell;
}

QString number(double value) { return QString::number(value, 'g', QLocale::FloatingPointShortest); }

bool parse(const QString& text, QList<QStringList>* records, QString* why, QList<int>* lines)
{
    records->clear();
    if (lines)
        lines->clear();
    int recordLine = 1;
    QStringList current;
    QString fieldText;
    bool inQuotes = false;
    bool wasQuoted = false;
    bool any = false;  // the current record has begun
    int line = 1;
    qsizetype i = text.startsWith(QChar(0xFEFF)) ? 1 : 0;
    auto endField = [&] {
        current << fieldText;
        fieldText.clear();
        wasQuoted = false;
    };
    auto endRecord = [&] {
        endField();
        records->append(current);
        if (lines)
            lines->append(recordLine);
        current.clear();
        any = false;
    };
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (!any && fieldText.isEmpty() && !wasQuoted)
            recordLine = line;  // nothing of a record yet: one may start here
        if (inQuotes) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                    fieldText += c;
                    ++i;
                } else {
                    inQuotes = false;
                }
            } else {
                if (c == QLatin1Char('\n'))
                    ++line;
                fieldText += c;
            }
            continue;
        }
        if (c == QLatin1Char(',')) {
            endField();
            any = true;
        } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                ++i;
            if (any || !fieldText.isEmpty() || wasQuoted)
                endRecord();
            ++line;
        } else if (c == QLatin1Char('"') && fieldText.isEmpty() && !wasQuoted) {
            inQuotes = true;
            wasQuoted = true;
            any = true;
        } else if (wasQuoted) {
            if (why)
                *why = QStringLiteral("line %1: text after a closing quote").arg(line);
            return false;
        } else {
            fieldText += c;
            any = true;
        }
    }
    if (inQuotes) {
        if (why)
            *why = QStringLiteral("line %1: a quoted field is never closed").arg(line);
        return false;
    }
    if (any || !fieldText.isEmpty())
        endRecord();
    return true;
}

} // namespace kalvor::records::csv
