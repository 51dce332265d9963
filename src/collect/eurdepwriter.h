#pragma once
// kvarn-collect's EURDEP files: once a period has closed and its records have
// had ArchiveSeconds to arrive, one file per period for every installation
// goes into EurdepDir, named CCYYYYMMDDHHMM.EUR (the country and the end of
// the period), written whole under another name and then renamed, so that a
// transfer job that takes *.EUR never sees half a file.
//
// What each period's file held is kept in ".kvarn-eurdep" in that folder (a
// message identity per period). Every pass looks at the periods of the last
// day again: one whose records changed since (a line that was down, records
// read late) is written again as a corrected message with a new MESSAGE_ID;
// one that did not is never written twice. After a restart the periods missed
// meanwhile are written, back to at most a day.
//
// It runs in a thread of its own, with its own database connection, so the
// lines and the writer of the database never wait for it.

#include "collect/siteconfig.h"
#include "store/sitestore.h"

#include <QMap>
#include <QObject>
#include <memory>

class QTimer;

class TEurdepWriter : public QObject {
    Q_OBJECT
public:
    static constexpr int kPassMs = 60000;
    static constexpr qint64 kCatchUpSeconds = 86400;
    static constexpr const char *kStateFile = ".kvarn-eurdep";

    TEurdepWriter(TSiteConfig config, const TStoreUrl &url);
    ~TEurdepWriter() override;

    // Opens the database and reads what was written before; false with the
    // reason when the folder or the database cannot be used.
    bool Open(QString *error);
    // Writes the files due at now (UTC): the number written, or -1 when the
    // database or the folder failed (logged; the next pass tries again).
    int Pass(const QDateTime &now);

public slots:
    // In its thread: a pass now and then every kPassMs.
    void Run();
    void Close();

private:
    bool saveState();

    TSiteConfig config_;
    TStoreUrl url_;
    std::unique_ptr<TSiteStore> store_;
    QTimer *timer_ = nullptr;
    int waitSeconds_ = 0;
    std::optional<qint64> since_;   // the end of the first period this folder is owed
    QMap<qint64, QString> written_; // period end (seconds since the epoch) -> message identity
};
