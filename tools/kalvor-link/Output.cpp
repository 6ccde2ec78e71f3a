#include "Output.h"

#include "link/LinkProtocol.h"

#include <QDateTime>

namespace kalvor::tool {

namespace {

bool neverSet(const QString& time) { return time == QLatin1String(link::kNoTime); }

QString valueText(const Options& options, const QString& text)
{
    return options.quoted ? QString::fromUtf8(link::quote(text)) : text;
}

QByteArray textLine(const Options& options, const QString& name, const QString& rest)
{
    return (options.terse ? rest : name + QLatin1Char(' ') + rest).toUtf8() + '\n';
}

} // namespace

QString shownTime(const Options& options, const QString& servedTime)
{
    if (!options.localTime || neverSet(servedTime))
        return servedTime;
    const QDateTime utc = QDateTime::fromString(servedTime, Qt::ISODateWithMs);
    if (!utc.isValid())
        return servedTime;
    const QDateTime local = utc.toLocalTime();
    return utc.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QByteArray getLine(const Options& options, const Shown& shown)
{
    const QString value = valueText(options, shown.value.value_or(QString()));
    if (!options.wide)
        return textLine(options, shown.name, value);
    return textLine(options, shown.name,
                    QStringLiteral("%1 %2 %3").arg(shownTime(options, shown.time)).arg(shown.seq).arg(value));
}

QByteArray monitorLine(const Options& options, const Shown& shown)
{
    const QString time = shownTime(options, shown.time);
    switch (options.format) {
    case Format::Text:
        return textLine(options, shown.name,
                        time + QLatin1Char(' ')
                            + (shown.value ? valueText(options, *shown.value)
                                           : QStringLiteral("changed %1").arg(shown.seq)));
    case Format::Csv:
        return csvField(shown.name) + ',' + csvField(neverSet(time) ? QString() : time) + ','
               + QByteArray::number(shown.seq) + ',' + csvField(shown.value.value_or(QString()))
               + "\r\n";
    case Format::Json:
        return "{\"name\":" + jsonString(shown.name) + ",\"time\":"
               + (neverSet(time) ? QByteArray("null") : jsonString(time))
               + ",\"seq\":" + QByteArray::number(shown.seq)
               + (shown.value ? ",\"value\":" + jsonString(*shown.value) : QByteArray(",\"changed\":true"))
               + "}\n";
    }
    return {};
}

QByteArray monitorHeader(const Options& options)
{
    return options.format == Format::Csv ? QByteArray("name,time,seq,value\r\n") : QByteArray();
}

QByteArray csvField(const QString& text)
{
    QByteArray bytes = text.toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n') && !bytes.contains('\r'))
        return bytes;
    return '"' + bytes.replace('"', "\"\"") + '"';
}

QByteArray jsonString(const QString& text)
{
    static const char hex[] = "0123456789abcdef";
    QByteArray out = "\"";
    for (const char ch : text.toUtf8()) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 0x0F];
            } else {
                out += ch;
            }
        }
    }
    return out + '"';
}

} // namespace kalvor::tool
