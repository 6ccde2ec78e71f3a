#pragma once
// The commands of kalvor-link. Each returns the program's exit code.
#include "link/LinkProtocol.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace kalvor::tool {

// 1 also stands for a socket that is not trusted and a connection that failed.
enum Exit { ExitOk = 0, ExitItemFailed = 1, ExitUsage = 2, ExitNoProgram = 3 };

enum class Format { Text, Csv, Json };

struct Options {
    QString socketPath;
    int timeoutMs = 5000;
    bool terse = false;      // -t: the value alone
    bool quoted = false;     // -q: the value in its quoted wire form
    bool wide = false;       // get -a: time and seq as well
    bool localTime = false;  // times in the local time zone instead of UTC
    Format format = Format::Text;  // monitor
    bool warm = false;       // monitor: announcements instead of values
    bool wait = true;        // monitor: wait for a program that is not running (yet)
    qint64 count = 0;        // monitor: stop after this many updates; 0 runs on
};

// A name as the user wrote it with the topic and item it stands for.
struct Target {
    QString name;
    link::ItemName item;
};

link::Request request(link::Command command, const QString& topic = {},
                      const QString& item = {});

// Standard output; false once a write has failed (said once on standard
// error) or the reader has closed the pipe (said nothing: the output ends).
void printLine(const QString& text);
bool printBytes(const QByteArray& bytes);
bool outputFailed();  // a write failed, but not for a closed pipe
bool outputClosed();  // the reader closed the pipe
void printError(const QString& text);

int runGet(const Options& options, const QList<Target>& targets);
int runPut(const Options& options, const Target& target, const QString& value);
int runTopics(const Options& options);
int runItems(const Options& options, const QString& topic);
int runMonitor(const Options& options, const QList<Target>& targets);

} // namespace kalvor::tool
