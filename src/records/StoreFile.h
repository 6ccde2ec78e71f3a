#pragma once
// A record store's file as the file system has it, before SQLite opens it:
// whether it is there, readable and an SQLite file at all, and how a
// read-only open reads it without making a file beside it.
//
// SQLite reads a write-ahead-logged file through its log (-wal) and the log's
// index (-shm), and a read-only connection still creates both where the
// folder lets it, and leaves them behind. So a read-only open reads
//   - in place (mode=ro) when the log and its index are both there: a running
//     kalvor-batch, or one that crashed; SQLite joins them and adds nothing;
//   - a private copy of the file and its log, when the log is there without
//     its index (SQLite could only read it by making the index);
//   - the file alone (immutable=1) when there is no log to read: no lock, no
//     file; the file's size and times are kept to see whether it changed
//     while it was read (a writer that starts meanwhile writes to its log,
//     and only a checkpoint changes the file).
#include <QString>
#include <optional>

namespace kalvor::records {

struct FileStamp {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;
    bool operator==(const FileStamp&) const = default;
};
std::optional<FileStamp> stampOf(const QString& path);

struct StoreFileProbe {
    enum class Kind { Missing, NotAFile, NoAccess, Empty, NotSqlite, Sqlite };
    Kind kind = Kind::Missing;
    QString text;          // what is wrong, for people; empty for Sqlite
    bool walMode = false;  // the header says write-ahead log
};
StoreFileProbe probeStoreFile(const QString& path);

enum class ReadAccess { InPlace, Copy, Immutable };
ReadAccess readAccessFor(const QString& path, bool walMode);

// Whether this user may write the store (its file and folder, on a medium
// mounted for writing); `why` says what stops it.
bool storeWritable(const QString& path, QString* why);

// An SQLite URI that opens `path` read-only.
QString readOnlyUri(const QString& path, bool immutable);

// Reads the file from start to end, so that the kernel's page cache holds
// it before something reads all of it in the order of its trees (verify).
// The tables of a store grow side by side, so that order jumps about the
// file; from a disk, one pass in order and then memory is many times faster
// than waiting on each page in turn. Skipped (false) for a file larger than
// half the memory the kernel says is available, which the cache could not
// hold, and for one that cannot be read.
bool readAheadFile(const QString& path);

} // namespace kalvor::records
