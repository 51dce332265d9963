#pragma once
// Finding archive records by time. The installation keeps its records in time
// order and answers the time of record n (DATETIME:Annn) one exchange at a
// time, so a bisection over those reads finds a boundary of a time range in
// about log2 N reads where a scan would read the whole archive (17 reads for
// 100 000 records instead of hours of line time).
//
// The order is the installation's promise, not something the search can
// rely on blindly: a record whose DATETIME does not read as a time is
// stepped over to the nearest record that does read, and a time that goes
// backwards against the records already read ends the bisection in a linear
// scan of the part still in doubt, from the nearest good record below it.
// Both are noted, so the caller can say so. A record whose time does not
// read is kept rather than lost: when it lies between the last record known
// to be before a boundary and the first known to be after it, the range
// takes it in.

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// One DATETIME read: Answered false when the exchange failed (no valid
// answer); Text is the value answered ("@@" arrives as an empty text).
struct TRecordTimeRead {
    bool Answered = false;
    QByteArray Text;
};

class TArchiveTimeSearch {
public:
    // Reads the DATETIME of record n, 1 to recordCount.
    using Reader = std::function<TRecordTimeRead(int record)>;

    TArchiveTimeSearch(int recordCount, Reader reader);

    // The first record whose time is at or after time (strictly after it
    // with strictlyAfter), or an unreadable one just before it; RecordCount()
    // + 1 when there is none. Empty when an exchange failed (FailedRecord()
    // names the record).
    std::optional<int> FirstFrom(const QDateTime &time, bool strictlyAfter = false);
    // The last record whose time is at or before time, or an unreadable one
    // just after it; 0 when there is none.
    std::optional<int> LastUpTo(const QDateTime &time);

    int RecordCount() const { return count_; }
    // DATETIME reads sent so far; a record is read at most once.
    int Reads() const { return reads_; }
    // The record whose exchange failed, 0 while none did.
    int FailedRecord() const { return failed_; }
    // What the search met on the way: records whose time does not read, and
    // times that go backwards. One line each, in the order met.
    QStringList Notes() const { return notes_; }
    // The time of a record already read, if it read as one.
    std::optional<QDateTime> KnownTime(int record) const;

private:
    struct Entry {
        bool Good = false;
        QDateTime Time;
        QByteArray Text;
    };
    using Predicate = std::function<bool(const QDateTime &)>;
    struct Bracket {
        int Lo = 0; // 0, or a good record for which the predicate is false
        int Hi = 0; // count + 1, or a good record for which it is true
    };

    const Entry *entry(int record);
    std::optional<Bracket> bisect(const Predicate &pred);
    std::optional<Bracket> scan(Bracket b, const Predicate &pred);

    int count_;
    Reader reader_;
    QHash<int, Entry> known_;
    int reads_ = 0;
    int failed_ = 0;
    QStringList notes_;
};

// A time given on the command line, in local time as the installation keeps
// it: ISO "YYYY-MM-DD[ HH:MM[:SS]]" (or with "T" between date and time), or
// the installation's own "dd/mm/yyyy hh.mm.ss". The result carries the wall
// clock reading as UTC, like the installation's times read back, so the two
// compare without a time zone. Empty when the text is none of these.
std::optional<QDateTime> ParseCliTime(const QString &text);

// The line time of reading records first..last, every step-th, with these
// columns, at rate baud: per variable the pause before the request, the
// request and reply frames on the wire (ten bits per byte) and the quiet
// that ends the read (intervalMs). Replies are taken as NAME:INDEX=VALUE;
// with a DATETIME value of 19 characters and other values of 8.
qint64 EstimateArchiveReadMs(const QList<QByteArray> &columns, int first, int last, int step, quint32 rate,
                             quint32 intervalMs);

// "45 s", "12 min 5 s", "3 h 20 min".
QString DurationText(qint64 ms);
