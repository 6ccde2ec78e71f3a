#include "records/StoreLocation.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

namespace kalvor::records {

namespace {

constexpr const char* kPasswordHint =
    "a password is never given on the command line or in a settings file: put it in ~/.pgpass "
    "(or the file PGPASSFILE names), one line host:port:database:user:password, mode 0600";

QString decoded(const QString& part) { return QUrl::fromPercentEncoding(part.toUtf8()); }

std::optional<StoreLocation> refused(QString* why, const QString& text)
{
    if (why)
        *why = text;
    return std::nullopt;
}

} // namespace

bool StoreLocation::looksLikeUri(const QString& text)
{
    return text.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive)
           || text.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

QString StoreLocation::display() const
{
    return isServer() ? text : QFileInfo(text).absoluteFilePath();
}

QString StoreLocation::serverText() const
{
    QString where = host.isEmpty() ? QStringLiteral("the local server") : host;
    if (port > 0)
        where += QStringLiteral(":%1").arg(port);
    return QStringLiteral("database %1 on %2").arg(database.isEmpty() ? QStringLiteral("(the default)") : database, where);
}

std::optional<StoreLocation> StoreLocation::parse(const QString& text, QString* why)
{
    StoreLocation loc;
    loc.text = text;
    if (!looksLikeUri(text)) {
        if (text.contains(QLatin1String("://")))
            return refused(why, QStringLiteral("%1 is neither a file nor a postgresql:// URI").arg(text));
        return loc;
    }
    loc.kind = Kind::PostgreSql;
    QString rest = text.mid(text.indexOf(QLatin1String("://")) + 3);
    QString query;
    if (const qsizetype q = rest.indexOf(QLatin1Char('?')); q >= 0) {
        query = rest.mid(q + 1);
        rest.truncate(q);
    }
    QString authority = rest;
    if (const qsizetype slash = rest.indexOf(QLatin1Char('/')); slash >= 0) {
        authority = rest.left(slash);
        loc.database = decoded(rest.mid(slash + 1));
    }
    if (const qsizetype at = authority.lastIndexOf(QLatin1Char('@')); at >= 0) {
        const QString userInfo = authority.left(at);
        authority = authority.mid(at + 1);
        if (userInfo.contains(QLatin1Char(':'))) {
            const QString scheme = text.left(text.indexOf(QLatin1String("://")) + 3);
            return refused(why, QStringLiteral("%1%2:***@%3 holds a password: %4")
                                    .arg(scheme, userInfo.section(QLatin1Char(':'), 0, 0), text.mid(text.indexOf(QLatin1Char('@'), scheme.size() + userInfo.size()) + 1),
                                         QLatin1String(kPasswordHint)));
        }
        loc.user = decoded(userInfo);
    }
    if (authority.contains(QLatin1Char(',')))
        return refused(why, QStringLiteral("%1 names several servers; name one").arg(text));
    QString portText;
    if (authority.startsWith(QLatin1Char('['))) {
        const qsizetype close = authority.indexOf(QLatin1Char(']'));
        if (close < 0)
            return refused(why, QStringLiteral("%1: an IPv6 address needs its closing ]").arg(text));
        loc.host = authority.mid(1, close - 1);
        const QString after = authority.mid(close + 1);
        if (after.startsWith(QLatin1Char(':')))
            portText = after.mid(1);
        else if (!after.isEmpty())
            return refused(why, QStringLiteral("%1: text after the IPv6 address").arg(text));
    } else {
        const qsizetype colon = authority.lastIndexOf(QLatin1Char(':'));
        loc.host = decoded(colon >= 0 ? authority.left(colon) : authority);
        if (colon >= 0)
            portText = authority.mid(colon + 1);
    }
    auto setPort = [&](const QString& value) {
        bool ok = false;
        const int p = value.toInt(&ok);
        if (!ok || p < 1 || p > 65535)
            return false;
        loc.port = p;
        return true;
    };
    if (!portText.isEmpty() && !setPort(portText))
        return refused(why, QStringLiteral("%1: the port %2 is no number from 1 to 65535").arg(text, portText));

    static const QRegularExpression keyword(QStringLiteral("^[a-z_]+$"));
    // Values go to the driver unquoted: nothing that would end or split one.
    static const QRegularExpression plainValue(QStringLiteral("^[^\\s'\"\\\\;]+$"));
    for (const QString& pair : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        const QString key = decoded(eq < 0 ? pair : pair.left(eq));
        const QString value = eq < 0 ? QString() : decoded(pair.mid(eq + 1));
        if (key == QLatin1String("password"))
            return refused(why, QStringLiteral("%1 holds a password: %2").arg(text.left(text.indexOf(QLatin1Char('?'))) + QStringLiteral("?password=..."),
                                                                           QLatin1String(kPasswordHint)));
        if (!keyword.match(key).hasMatch() || value.isEmpty())
            return refused(why, QStringLiteral("%1: %2 is not a parameter of the form name=value").arg(text, pair));
        if (key == QLatin1String("host"))
            loc.host = value;
        else if (key == QLatin1String("port")) {
            if (!setPort(value))
                return refused(why, QStringLiteral("%1: the port %2 is no number from 1 to 65535").arg(text, value));
        } else if (key == QLatin1String("user"))
            loc.user = value;
        else if (key == QLatin1String("dbname"))
            loc.database = value;
        else if (!plainValue.match(value).hasMatch())
            return refused(why, QStringLiteral("%1: the value of %2 holds a blank, a quote, a backslash or a semicolon, "
                                               "which the driver cannot pass on")
                                    .arg(text, key));
        else
            loc.options.append({key, value});
    }
    if (loc.host.startsWith(QLatin1Char('/')))
        loc.host = QDir::cleanPath(loc.host);
    return loc;
}

} // namespace kalvor::records
