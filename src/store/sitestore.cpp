#include "store/sitestore.h"

#include "base/cp1251.h"
#include "base/installationtime.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <cmath>
#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>

namespace {

// The archive variables as the installation names them, in the order of the
// records table's columns (DATETIME has a column of its own).
const QList<QByteArray> kArchiveColumns{"SERIALN", "DRYCONTACTIN", "DRYCONTACTOUT", "DRYCONTACTTHR",
                                        "KOEFFICIENT", "ALARM1", "ALARM2", "ALARM1ON", "ALARM2ON",
                                        "STATUS", "ACTIVITY"};

const QStringList kEventKinds{"link-lost", "link-restored", "alarm", "fault", "clock", "archive-reset",
                              "readings-dropped", "stale", "stale-end", "stuck", "stuck-end", "serial-mismatch"};

// A plain decimal number, as SQL (SQLite's REGEXP, PostgreSQL's ~) and
// QRegularExpression read it alike.
const QString kNumberPattern = QStringLiteral("^[-+]?([0-9]+[.]?[0-9]*|[.][0-9]+)([eE][-+]?[0-9]{1,3})?$");

// Records per INSERT statement: one round trip carries many rows, well
// below SQLite's limit of bound values per statement.
constexpr int kRowsPerInsert = 64;

// Wall-clock times of the installation; the text sorts as the time does.
const QString kWallClockFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
// The PC's clock in UTC.
const QString kUtcFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz'Z'");

QString LowerName(const QByteArray &column) { return QString::fromLatin1(column).toLower(); }

QVariant NullText() { return QVariant(QMetaType::fromType<QString>()); }

QVariant Text(const std::optional<QByteArray> &value)
{
    return value ? QVariant(FromCp1251(*value)) : NullText();
}

std::optional<QByteArray> TextBack(const QVariant &value)
{
    if (value.isNull())
        return std::nullopt;
    return ToCp1251(value.toString());
}

QVariant Number(const std::optional<QByteArray> &text)
{
    const std::optional<double> value = StoredNumber(text);
    return value ? QVariant(*value) : QVariant(QMetaType::fromType<double>());
}

QVariant UtcText(const QDateTime &at) { return at.toUTC().toString(kUtcFormat); }

// A stored UTC time back: SQLite gives the text, PostgreSQL a time.
QDateTime UtcBack(const QVariant &value)
{
    if (value.isNull())
        return {};
    if (value.metaType() == QMetaType::fromType<QDateTime>())
        return value.toDateTime().toUTC();
    QString text = value.toString().trimmed();
    text.replace(' ', 'T');
    QDateTime at = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!at.isValid())
        return {};
    if (at.timeSpec() == Qt::LocalTime)
        at.setTimeSpec(Qt::UTC);
    return at.toUTC();
}

// A stored wall-clock time back (as UTC, like ParseInstallationTime):
// SQLite gives the text, PostgreSQL a time.
QDateTime WallClockBack(const QVariant &value)
{
    if (value.isNull())
        return {};
    QDateTime at = value.metaType() == QMetaType::fromType<QDateTime>()
        ? value.toDateTime()
        : QDateTime::fromString(value.toString().trimmed(), kWallClockFormat);
    at.setTimeSpec(Qt::UTC);
    return at;
}

QString QueryError(const QSqlQuery &query)
{
    const QSqlError error = query.lastError();
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    return text.isEmpty() ? error.text() : text;
}

} // namespace

std::optional<double> StoredNumber(const std::optional<QByteArray> &text)
{
    static const QRegularExpression number(kNumberPattern);
    if (!text || !number.match(QLatin1String(*text)).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double value = text->toDouble(&ok);
    if (!ok) {
        // Out of the double's range: too large is no number, too small is 0.
        const QByteArray mantissa = text->toLower().split('e').first();
        const qsizetype point = mantissa.contains('.') ? mantissa.indexOf('.') : mantissa.size();
        qsizetype first = 0;
        while (first < mantissa.size() && !(mantissa[first] >= '1' && mantissa[first] <= '9'))
            ++first;
        const qsizetype digits = first < point ? point - first - 1 : point - first;
        const qsizetype exponent = text->toLower().contains('e') ? text->toLower().split('e').last().toInt() : 0;
        return digits + exponent > 0 ? std::nullopt : std::optional<double>(0.0);
    }
    if (!(std::abs(value) < 1e300))
        return std::nullopt;
    return std::abs(value) < 1e-300 ? 0.0 : value;
}

// --- the URL ------------------------------------------------------------------------

std::optional<TStoreUrl> TStoreUrl::Parse(const QString &text, QString *error)
{
    auto bad = [&](const QString &why) -> std::optional<TStoreUrl> {
        if (error)
            *error = QStringLiteral("database URL: %1").arg(why);
        return std::nullopt;
    };
    TStoreUrl url;
    if (text.startsWith(QLatin1String("sqlite:"))) {
        url.Driver = QStringLiteral("QSQLITE");
        url.Path = text.mid(7);
        if (url.Path.startsWith(QLatin1String("//")))
            url.Path = url.Path.mid(2); // sqlite:///var/lib/... as well as sqlite:/var/lib/...
        if (url.Path.isEmpty())
            return bad(QStringLiteral("\"sqlite:\" needs a file path"));
        return url;
    }
    if (!text.startsWith(QLatin1String("postgresql://")) && !text.startsWith(QLatin1String("postgres://")))
        return bad(QStringLiteral("neither sqlite:PATH nor postgresql://USER@HOST/DBNAME"));
    const QUrl parsed(text, QUrl::StrictMode);
    if (!parsed.isValid())
        return bad(QStringLiteral("not a valid URL (%1)").arg(parsed.errorString()));
    url.Driver = QStringLiteral("QPSQL");
    url.User = parsed.userName(QUrl::FullyDecoded);
    url.Password = parsed.password(QUrl::FullyDecoded);
    url.Host = parsed.host(QUrl::FullyDecoded);
    url.Port = parsed.port(-1);
    QString path = parsed.path(QUrl::FullyDecoded);
    if (path.startsWith('/'))
        path.remove(0, 1);
    url.DatabaseName = path;
    if (url.DatabaseName.isEmpty() || url.DatabaseName.contains('/'))
        return bad(QStringLiteral("no database name after the host (postgresql://USER@HOST/DBNAME)"));
    const QUrlQuery query(parsed);
    for (const auto &[key, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (key != QLatin1String("host"))
            return bad(QStringLiteral("unknown parameter \"%1\" (only host=/socket/dir)").arg(key));
        url.Host = value;
    }
    if (url.Host.isEmpty())
        return bad(QStringLiteral("no host (postgresql://USER@HOST/DBNAME or ?host=/socket/dir)"));
    return url;
}

QString TStoreUrl::Display() const
{
    if (Driver == QLatin1String("QSQLITE"))
        return QStringLiteral("sqlite:") + Path;
    QString text = QStringLiteral("postgresql://");
    if (!User.isEmpty())
        text += User + '@';
    const bool socket = Host.startsWith('/');
    if (!socket)
        text += Host;
    if (Port >= 0)
        text += ':' + QString::number(Port);
    text += '/' + DatabaseName;
    if (socket)
        text += QStringLiteral("?host=") + Host;
    return text;
}

// --- the store ----------------------------------------------------------------------

TSiteStore::TSiteStore(const QString &connectionName) : connection_(connectionName) {}

TSiteStore::~TSiteStore()
{
    if (QSqlDatabase::contains(connection_)) {
        {
            QSqlDatabase db = QSqlDatabase::database(connection_, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(connection_);
    }
}

bool TSiteStore::IsOpen() const { return open_; }

QString TSiteStore::LastError() const { return error_; }

bool TSiteStore::fail(const QString &what)
{
    error_ = what;
    return false;
}

TSiteStore::OpenResult TSiteStore::Open(const TStoreUrl &url, Access access)
{
    const bool readOnly = access == Access::ReadOnly;
    open_ = false;
    version_ = 0;
    if (QSqlDatabase::contains(connection_)) {
        {
            QSqlDatabase old = QSqlDatabase::database(connection_, false);
            old.close();
        }
        QSqlDatabase::removeDatabase(connection_);
    }
    if (url.Driver != QLatin1String("QSQLITE") && url.Driver != QLatin1String("QPSQL")) {
        fail(QStringLiteral("unknown database kind \"%1\"").arg(url.Driver));
        return OpenResult::BadUrl;
    }
    if (!QSqlDatabase::isDriverAvailable(url.Driver)) {
        fail(QStringLiteral("the Qt SQL driver %1 is not installed").arg(url.Driver));
        return OpenResult::Unreachable;
    }
    postgres_ = url.Driver == QLatin1String("QPSQL");
    QSqlDatabase db = QSqlDatabase::addDatabase(url.Driver, connection_);
    if (postgres_) {
        db.setHostName(url.Host);
        if (url.Port >= 0)
            db.setPort(url.Port);
        db.setUserName(url.User);
        db.setPassword(url.Password);
        db.setDatabaseName(url.DatabaseName);
        db.setConnectOptions(QStringLiteral("connect_timeout=5;application_name=kvarn"));
    } else {
        db.setDatabaseName(url.Path);
        // Another process writing the same file: wait for it rather than fail.
        // Not SQLite's read-only flag even when only reading: such a connection
        // would leave the write-ahead files behind, owned by its user, where
        // the collector could not write them.
        // REGEXP: for the numeric copies the upgrade from version 1 makes.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000;QSQLITE_ENABLE_REGEXP"));
    }
    if (!db.open()) {
        fail(QStringLiteral("%1 cannot be opened: %2").arg(url.Display(), db.lastError().text().trimmed()));
        return OpenResult::Unreachable;
    }
    QSqlQuery setup(db);
    QStringList settings = postgres_
        ? QStringList{"SET client_min_messages TO warning", "SET TIME ZONE 'UTC'"}
        : QStringList{"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL", "PRAGMA foreign_keys=ON"};
    if (readOnly)
        settings = postgres_ ? settings << "SET default_transaction_read_only TO on" : QStringList{};
    for (const QString &statement : settings)
        if (!setup.exec(statement)) {
            fail(QStringLiteral("%1: %2").arg(url.Display(), QueryError(setup)));
            db.close();
            return OpenResult::Unreachable;
        }
    OpenResult result = OpenResult::Ok;
    if (!createOrCheckSchema(&result, !readOnly)) {
        error_ = QStringLiteral("%1: %2").arg(url.Display(), error_);
        db.close();
        return result;
    }
    open_ = true;
    return OpenResult::Ok;
}

// The tables and the columns each must have in a schema version.
static QList<std::pair<QString, QStringList>> SchemaTables(int version)
{
    QStringList records{"installation_id", "datetime", "recorded_at"};
    for (const QByteArray &column : kArchiveColumns)
        records << LowerName(column);
    QStringList installations{"id", "name", "serialn"};
    QStringList readings{"installation_id", "at", "activity", "status", "alarm1on", "alarm2on"};
    if (version >= 2) {
        installations << "poll_seconds" << "archive_seconds" << "started_at" << "record_count";
        records << "activity_value";
        readings << "activity_value" << "collector";
    }
    return {
        {"schema_version", {"version"}},
        {"installations", installations},
        {"records", records},
        {"readings", readings},
        {"events", {"installation_id", "at", "kind", "detail"}},
    };
}

// The numeric copy of a text column in SQL, by the rule of StoredNumber.
static QString NumberOf(const QString &column, bool postgres)
{
    const QString pattern = kNumberPattern;
    if (postgres)
        return QStringLiteral("CASE WHEN %1 ~ '%2' THEN CASE WHEN abs(%1::numeric) >= 1e300 THEN NULL "
                              "WHEN abs(%1::numeric) < 1e-300 THEN 0 ELSE %1::float8 END END")
            .arg(column, pattern);
    return QStringLiteral("CASE WHEN %1 REGEXP '%2' THEN CASE WHEN abs(CAST(%1 AS REAL)) >= 1e300 THEN NULL "
                          "WHEN abs(CAST(%1 AS REAL)) < 1e-300 THEN 0.0 ELSE CAST(%1 AS REAL) END END")
        .arg(column, pattern);
}

bool TSiteStore::begin()
{
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    // SQLite: the write lock from the start, so that another writer of the
    // same file makes this one wait (busy time-out) instead of failing halfway.
    QSqlQuery query(db);
    if (postgres_ ? db.transaction() : query.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return true;
    return fail(QStringLiteral("no transaction: %1")
                    .arg(postgres_ ? db.lastError().text().trimmed() : QueryError(query)));
}

bool TSiteStore::commit()
{
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    QSqlQuery query(db);
    if (postgres_ ? db.commit() : query.exec(QStringLiteral("COMMIT")))
        return true;
    fail(QStringLiteral("the transaction cannot be committed: %1")
             .arg(postgres_ ? db.lastError().text().trimmed() : QueryError(query)));
    rollback();
    return false;
}

void TSiteStore::rollback()
{
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (postgres_)
        db.rollback();
    else
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
}

bool TSiteStore::createOrCheckSchema(OpenResult *result, bool create)
{
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    QSqlQuery query(db);
    for (int attempt = 0; attempt < 2; ++attempt) {
        // The catalogue read by hand: unlike QSqlDatabase::tables() it tells
        // a database that cannot be read from one without tables.
        if (!query.exec(postgres_ ? QStringLiteral("SELECT table_name FROM information_schema.tables "
                                                   "WHERE table_schema = current_schema()")
                                  : QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'"))) {
            *result = OpenResult::Unreachable;
            QString why = QueryError(query);
            if (!postgres_ && !create && why.contains(QLatin1String("readonly")))
                why += QStringLiteral(" (a SQLite database being collected into is read with write access to its "
                                      "folder: as its collector's user or group)");
            return fail(why);
        }
        QStringList present;
        while (query.next())
            present << query.value(0).toString();
        QStringList ours;
        for (const auto &table : SchemaTables(SchemaVersion))
            if (present.contains(table.first, Qt::CaseInsensitive))
                ours << table.first;
        if (ours.contains(QLatin1String("schema_version"))) {
            if (!query.exec(QStringLiteral("SELECT version FROM schema_version"))) {
                *result = OpenResult::BadSchema;
                return fail(QStringLiteral("its schema version cannot be read: %1").arg(QueryError(query)));
            }
            QList<int> versions;
            while (query.next())
                versions << query.value(0).toInt();
            const int version = versions.size() == 1 ? versions.first() : 0;
            if (version < OldestReadableVersion || version > SchemaVersion) {
                *result = OpenResult::BadSchema;
                return fail(QStringLiteral("the database has schema version %1, this program uses %2: left as it is")
                                .arg(versions.isEmpty() ? QStringLiteral("(none)")
                                                        : QString::number(versions.value(0)))
                                .arg(SchemaVersion));
            }
            for (const auto &[table, columns] : SchemaTables(version))
                if (!query.exec(QStringLiteral("SELECT %1 FROM %2 WHERE 1 = 0").arg(columns.join(", "), table))) {
                    *result = OpenResult::BadSchema;
                    return fail(QStringLiteral("its table %1 is not the one this program uses (%2): left as it is")
                                    .arg(table, QueryError(query)));
                }
            version_ = version;
            return version_ == SchemaVersion || !create || upgrade(result);
        }
        if (!create) {
            *result = OpenResult::BadSchema;
            return fail(QStringLiteral("it holds no site database (no table schema_version)"));
        }
        if (!ours.isEmpty()) {
            *result = OpenResult::BadSchema;
            return fail(QStringLiteral("it holds the tables %1 but no schema version: not this program's database, "
                                       "left as it is")
                            .arg(ours.join(", ")));
        }

        // Version 1's tables, then the same steps as its upgrade, in one transaction.
        const QString id = postgres_ ? QStringLiteral("BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY")
                                     : QStringLiteral("INTEGER PRIMARY KEY");
        const QString ref = postgres_ ? QStringLiteral("BIGINT NOT NULL REFERENCES installations(id)")
                                      : QStringLiteral("INTEGER NOT NULL REFERENCES installations(id)");
        const QString wallClock = postgres_ ? QStringLiteral("TIMESTAMP") : QStringLiteral("TEXT");
        const QString utc = postgres_ ? QStringLiteral("TIMESTAMPTZ NOT NULL") : QStringLiteral("TEXT NOT NULL");
        QStringList archive;
        for (const QByteArray &column : kArchiveColumns)
            archive << LowerName(column) + QStringLiteral(" TEXT");
        const QStringList statements = QStringList{
            "CREATE TABLE schema_version (version INTEGER NOT NULL)",
            "INSERT INTO schema_version (version) VALUES (1)",
            QStringLiteral("CREATE TABLE installations (id %1, name TEXT NOT NULL UNIQUE, serialn TEXT)").arg(id),
            QStringLiteral("CREATE TABLE records (installation_id %1, datetime TEXT NOT NULL, recorded_at %2, %3, "
                           "UNIQUE (installation_id, datetime))")
                .arg(ref, wallClock, archive.join(", ")),
            "CREATE INDEX records_by_time ON records (installation_id, recorded_at)",
            QStringLiteral("CREATE TABLE readings (installation_id %1, at %2, activity TEXT, status TEXT, "
                           "alarm1on TEXT, alarm2on TEXT)")
                .arg(ref, utc),
            "CREATE INDEX readings_by_time ON readings (installation_id, at)",
            QStringLiteral("CREATE TABLE events (installation_id %1, at %2, kind TEXT NOT NULL, detail TEXT)")
                .arg(ref, utc),
            "CREATE INDEX events_by_time ON events (installation_id, at)",
        } + upgradeStatements();
        if (!db.transaction()) {
            *result = OpenResult::Unreachable;
            return fail(db.lastError().text().trimmed());
        }
        bool created = true;
        for (const QString &statement : statements)
            if (!query.exec(statement)) {
                error_ = QStringLiteral("the tables cannot be created: %1").arg(QueryError(query));
                created = false;
                break;
            }
        if (created && db.commit()) {
            version_ = SchemaVersion;
            return true;
        }
        if (created)
            error_ = QStringLiteral("the tables cannot be created: %1").arg(db.lastError().text().trimmed());
        db.rollback();
        // Another collector may have created them at the same moment: look again.
    }
    *result = OpenResult::Unreachable;
    return false;
}

// From version 1 to 2: new columns filled from the rows already stored.
QStringList TSiteStore::upgradeStatements() const
{
    const QString utc = postgres_ ? QStringLiteral("TIMESTAMPTZ") : QStringLiteral("TEXT");
    const QString real = postgres_ ? QStringLiteral("DOUBLE PRECISION") : QStringLiteral("REAL");
    return {
        "ALTER TABLE installations ADD COLUMN poll_seconds INTEGER",
        "ALTER TABLE installations ADD COLUMN archive_seconds INTEGER",
        "ALTER TABLE installations ADD COLUMN started_at " + utc,
        "ALTER TABLE installations ADD COLUMN record_count BIGINT NOT NULL DEFAULT 0",
        "ALTER TABLE records ADD COLUMN activity_value " + real,
        "ALTER TABLE readings ADD COLUMN activity_value " + real,
        "ALTER TABLE readings ADD COLUMN collector TEXT",
        // The newest event of a kind per installation, for the site's state.
        "CREATE INDEX events_by_kind ON events (installation_id, kind, at)",
        "UPDATE installations SET record_count = (SELECT COUNT(*) FROM records r WHERE r.installation_id = "
        "installations.id)",
        "UPDATE records SET activity_value = " + NumberOf("activity", postgres_) + " WHERE activity IS NOT NULL",
        "UPDATE readings SET activity_value = " + NumberOf("activity", postgres_) + " WHERE activity IS NOT NULL",
        QStringLiteral("UPDATE schema_version SET version = %1").arg(SchemaVersion),
    };
}

bool TSiteStore::upgrade(OpenResult *result)
{
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    *result = OpenResult::Unreachable;
    if (!begin())
        return false;
    QSqlQuery query(db);
    // Another collector may be upgrading the same database: the first one
    // does it, the others wait for it and find version 2.
    if (postgres_ && !query.exec(QStringLiteral("LOCK TABLE schema_version IN ACCESS EXCLUSIVE MODE"))) {
        fail(QStringLiteral("the schema cannot be upgraded: %1").arg(QueryError(query)));
        rollback();
        return false;
    }
    if (!query.exec(QStringLiteral("SELECT version FROM schema_version")) || !query.next()) {
        fail(QStringLiteral("the schema cannot be upgraded: %1").arg(QueryError(query)));
        rollback();
        return false;
    }
    const int found = query.value(0).toInt();
    query.finish();
    if (found == 1)
        for (const QString &statement : upgradeStatements())
            if (!query.exec(statement)) {
                fail(QStringLiteral("the schema cannot be upgraded from version 1: %1").arg(QueryError(query)));
                rollback();
                return false;
            }
    if (found != 1 && found != SchemaVersion) {
        rollback();
        *result = OpenResult::BadSchema;
        return fail(QStringLiteral("the database has schema version %1, this program uses %2: left as it is")
                        .arg(found)
                        .arg(SchemaVersion));
    }
    if (!commit())
        return false;
    version_ = SchemaVersion;
    *result = OpenResult::Ok;
    return true;
}

bool TSiteStore::ready()
{
    return open_ || fail(QStringLiteral("the database is not open"));
}

std::optional<qint64> TSiteStore::installationId(const QString &name, bool create)
{
    if (!ready())
        return std::nullopt;
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    QSqlQuery query(db);
    for (int attempt = 0; attempt < 2; ++attempt) {
        query.prepare(QStringLiteral("SELECT id FROM installations WHERE name = ?"));
        query.addBindValue(name);
        if (!query.exec()) {
            fail(QueryError(query));
            return std::nullopt;
        }
        if (query.next())
            return query.value(0).toLongLong();
        if (!create || attempt > 0)
            return qint64(-1);
        query.prepare(postgres_ ? QStringLiteral("INSERT INTO installations (name) VALUES (?) ON CONFLICT DO NOTHING")
                                : QStringLiteral("INSERT OR IGNORE INTO installations (name) VALUES (?)"));
        query.addBindValue(name);
        if (!query.exec()) {
            fail(QueryError(query));
            return std::nullopt;
        }
    }
    return qint64(-1);
}

bool TSiteStore::Write(const TStoreBatch &batch)
{
    serialMismatch_ = false;
    if (!ready())
        return false;
    // Everything the batch could be refused for is looked at before a row is written.
    QStringList columns;
    for (const QByteArray &name : batch.Columns) {
        if (!kArchiveColumns.contains(name))
            return fail(QStringLiteral("\"%1\" is no archive variable with a column of its own")
                            .arg(QString::fromLatin1(name)));
        if (columns.contains(LowerName(name)))
            return fail(QStringLiteral("the column %1 is given twice").arg(QString::fromLatin1(name)));
        columns << LowerName(name);
    }
    for (const TStoreRecord &record : batch.Records)
        if (record.Values.size() != batch.Columns.size())
            return fail(QStringLiteral("the record of %1 has %2 values for %3 columns")
                            .arg(FromCp1251(record.Datetime))
                            .arg(record.Values.size())
                            .arg(batch.Columns.size()));

    const qsizetype activity = batch.Columns.indexOf("ACTIVITY");

    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    QSqlQuery query(db);
    if (!begin())
        return false;
    auto rollback = [&](const QString &why) {
        this->rollback();
        return fail(why);
    };

    const std::optional<qint64> id = installationId(batch.Installation, true);
    if (!id || *id < 0)
        return rollback(QStringLiteral("the installation %1 cannot be entered: %2").arg(batch.Installation, error_));
    if (batch.Serial && !batch.Serial->isEmpty()) { // "@@" tells nothing
        // An installation of another serial number is never written under
        // this name: two site files (or two collectors) giving one name to
        // two installations would mix their records. Another writer's row
        // is locked until its commit, so the test holds between collectors.
        query.prepare(QStringLiteral("UPDATE installations SET serialn = ? WHERE id = ? AND (serialn IS NULL OR serialn = ?)"));
        query.addBindValue(Text(batch.Serial));
        query.addBindValue(*id);
        query.addBindValue(Text(batch.Serial));
        if (!query.exec())
            return rollback(QueryError(query));
        if (query.numRowsAffected() == 0) {
            QString stored;
            query.prepare(QStringLiteral("SELECT serialn FROM installations WHERE id = ?"));
            query.addBindValue(*id);
            if (query.exec() && query.next())
                stored = query.value(0).toString();
            rollback(QString());
            serialMismatch_ = true;
            return fail(QStringLiteral("the installation answers with the serial number %1, but %2 is stored under "
                                       "the name \"%3\": nothing written (correct the site file, or rename the "
                                       "installation)")
                            .arg(FromCp1251(*batch.Serial), stored, batch.Installation));
        }
    }

    // Records, many to a statement; one statement is prepared for the full
    // chunks and one for the rest.
    const QString columnList =
        (QStringList{"installation_id", "datetime", "recorded_at", "activity_value"} + columns).join(", ");
    const QString oneRow = '(' + QStringList(columns.size() + 4, QStringLiteral("?")).join(", ") + ')';
    auto insertText = [&](int rows) {
        QStringList values(rows, oneRow);
        return (postgres_ ? QStringLiteral("INSERT INTO records (%1) VALUES %2 ON CONFLICT DO NOTHING")
                          : QStringLiteral("INSERT OR IGNORE INTO records (%1) VALUES %2"))
            .arg(columnList, values.join(", "));
    };
    QSqlQuery insert(db);
    int prepared = 0;
    qint64 inserted = 0;
    for (qsizetype first = 0; first < batch.Records.size(); first += kRowsPerInsert) {
        const int rows = int(std::min<qsizetype>(kRowsPerInsert, batch.Records.size() - first));
        if (rows != prepared) {
            if (!insert.prepare(insertText(rows)))
                return rollback(QueryError(insert));
            prepared = rows;
        }
        for (int r = 0; r < rows; ++r) {
            const TStoreRecord &record = batch.Records[first + r];
            insert.addBindValue(*id);
            insert.addBindValue(FromCp1251(record.Datetime));
            const std::optional<QDateTime> at = ParseInstallationTime(record.Datetime);
            insert.addBindValue(at ? QVariant(at->toString(kWallClockFormat)) : NullText());
            insert.addBindValue(Number(activity < 0 ? std::nullopt : record.Values[activity]));
            for (const std::optional<QByteArray> &value : record.Values)
                insert.addBindValue(Text(value));
        }
        if (!insert.exec())
            return rollback(QStringLiteral("the records cannot be written: %1").arg(QueryError(insert)));
        // A record already stored is left out and not counted.
        inserted += std::max(0, insert.numRowsAffected());
    }
    if (inserted > 0) {
        query.prepare(QStringLiteral("UPDATE installations SET record_count = record_count + ? WHERE id = ?"));
        query.addBindValue(inserted);
        query.addBindValue(*id);
        if (!query.exec())
            return rollback(QStringLiteral("the record count cannot be kept: %1").arg(QueryError(query)));
    }

    if (!batch.Readings.isEmpty()) {
        query.prepare(QStringLiteral("INSERT INTO readings (installation_id, at, activity, activity_value, status, "
                                     "alarm1on, alarm2on, collector) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
        for (const TStoreReading &reading : batch.Readings) {
            if (!reading.At.isValid())
                return rollback(QStringLiteral("a reading without its time"));
            query.addBindValue(*id);
            query.addBindValue(UtcText(reading.At));
            query.addBindValue(Text(reading.Activity));
            query.addBindValue(Number(reading.Activity));
            query.addBindValue(Text(reading.Status));
            query.addBindValue(Text(reading.Alarm1On));
            query.addBindValue(Text(reading.Alarm2On));
            const QString &collector = reading.Collector.isEmpty() ? batch.Collector : reading.Collector;
            query.addBindValue(collector.isEmpty() ? NullText() : QVariant(collector));
            if (!query.exec())
                return rollback(QStringLiteral("the readings cannot be written: %1").arg(QueryError(query)));
        }
    }

    if (!batch.Events.isEmpty()) {
        query.prepare(QStringLiteral("INSERT INTO events (installation_id, at, kind, detail) VALUES (?, ?, ?, ?)"));
        for (const TStoreEvent &event : batch.Events) {
            if (!kEventKinds.contains(event.Kind) || !event.At.isValid())
                return rollback(QStringLiteral("an event of unknown kind \"%1\" or without its time").arg(event.Kind));
            query.addBindValue(*id);
            query.addBindValue(UtcText(event.At));
            query.addBindValue(event.Kind);
            query.addBindValue(event.Detail);
            if (!query.exec())
                return rollback(QStringLiteral("the events cannot be written: %1").arg(QueryError(query)));
        }
    }

    query.finish();
    insert.finish();
    if (!commit())
        return false;
    error_.clear();
    return true;
}

bool TSiteStore::RecordStarts(const QList<TStoreStart> &starts)
{
    if (!ready() || !begin())
        return false;
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    for (const TStoreStart &start : starts) {
        const std::optional<qint64> id = installationId(start.Installation, true);
        if (!id || *id < 0) {
            const QString why = error_;
            rollback();
            return fail(QStringLiteral("the installation %1 cannot be entered: %2").arg(start.Installation, why));
        }
        query.prepare(QStringLiteral("UPDATE installations SET poll_seconds = ?, archive_seconds = ?, started_at = ? "
                                     "WHERE id = ?"));
        query.addBindValue(start.PollSeconds);
        query.addBindValue(start.ArchiveSeconds);
        query.addBindValue(start.StartedAt.isValid() ? UtcText(start.StartedAt) : NullText());
        query.addBindValue(*id);
        if (!query.exec()) {
            rollback();
            return fail(QStringLiteral("the installations' intervals cannot be written: %1").arg(QueryError(query)));
        }
    }
    query.finish();
    return commit();
}

// Oldest first: records whose DATETIME reads as no time come after the rest.
static QString RecordOrder(bool newestFirst)
{
    return newestFirst ? QStringLiteral("ORDER BY recorded_at IS NULL, recorded_at DESC, datetime DESC")
                       : QStringLiteral("ORDER BY recorded_at IS NULL, recorded_at, datetime");
}

std::optional<QByteArray> TSiteStore::NewestDatetime(const QString &installation)
{
    const std::optional<qint64> id = installationId(installation, false);
    if (!id)
        return std::nullopt;
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    query.prepare(QStringLiteral("SELECT datetime FROM records WHERE installation_id = ? %1 LIMIT 1")
                      .arg(RecordOrder(true)));
    query.addBindValue(*id);
    if (!query.exec()) {
        fail(QueryError(query));
        return std::nullopt;
    }
    return query.next() ? ToCp1251(query.value(0).toString()) : QByteArray("");
}

std::optional<qint64> TSiteStore::RecordCount(const QString &installation)
{
    if (!ready())
        return std::nullopt;
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    query.prepare(version_ >= 2 ? QStringLiteral("SELECT record_count FROM installations WHERE name = ?")
                                : QStringLiteral("SELECT COUNT(*) FROM records r JOIN installations i "
                                                 "ON i.id = r.installation_id WHERE i.name = ?"));
    query.addBindValue(installation);
    if (!query.exec()) {
        fail(QueryError(query));
        return std::nullopt;
    }
    return query.next() ? query.value(0).toLongLong() : 0;
}

std::optional<QList<TSiteStore::Summary>> TSiteStore::Installations(const std::optional<QString> &only)
{
    if (!ready())
        return std::nullopt;
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    QSqlQuery list(db);
    list.prepare((version_ >= 2 ? QStringLiteral("SELECT id, name, serialn, record_count FROM installations %1 ORDER BY name")
                                : QStringLiteral("SELECT id, name, serialn, -1 FROM installations %1 ORDER BY name"))
                     .arg(only ? QStringLiteral("WHERE name = ?") : QString()));
    if (only)
        list.addBindValue(*only);
    if (!list.exec()) {
        fail(QueryError(list));
        return std::nullopt;
    }
    QList<std::pair<qint64, Summary>> found;
    while (list.next()) {
        Summary summary;
        summary.Installation = list.value(1).toString();
        summary.Serial = TextBack(list.value(2)).value_or(QByteArray());
        summary.Records = list.value(3).toLongLong();
        found.append({list.value(0).toLongLong(), summary});
    }
    QSqlQuery query(db);
    auto run = [&](const QString &text, qint64 id) {
        query.prepare(text);
        query.addBindValue(id);
        if (query.exec())
            return true;
        fail(QueryError(query));
        return false;
    };
    QList<Summary> summaries;
    for (auto &[id, summary] : found) {
        if (summary.Records < 0) {
            if (!run(QStringLiteral("SELECT COUNT(*) FROM records WHERE installation_id = ?"), id))
                return std::nullopt;
            summary.Records = query.next() ? query.value(0).toLongLong() : 0;
        }
        for (bool newest : {false, true}) {
            if (!run(QStringLiteral("SELECT datetime FROM records WHERE installation_id = ? %1 LIMIT 1")
                         .arg(RecordOrder(newest)),
                     id))
                return std::nullopt;
            (newest ? summary.LastDatetime : summary.FirstDatetime) =
                query.next() ? ToCp1251(query.value(0).toString()) : QByteArray();
        }
        if (!run(QStringLiteral("SELECT at, activity, status, alarm1on, alarm2on FROM readings "
                                "WHERE installation_id = ? ORDER BY at DESC LIMIT 1"),
                 id))
            return std::nullopt;
        if (query.next())
            summary.LastReading = TStoreReading{UtcBack(query.value(0)), TextBack(query.value(1)),
                                                TextBack(query.value(2)), TextBack(query.value(3)),
                                                TextBack(query.value(4))};
        summaries << summary;
    }
    return summaries;
}

std::optional<TSiteStore::Rows> TSiteStore::Records(const QString &installation, std::optional<QDateTime> since,
                                                    std::optional<QDateTime> until)
{
    Rows rows;
    const bool read = Records(installation, since, until, &rows.Columns, [&](const QList<std::optional<QByteArray>> &values) {
        rows.Values << values;
        return true;
    });
    return read ? std::optional<Rows>(std::move(rows)) : std::nullopt;
}

bool TSiteStore::Records(const QString &installation, std::optional<QDateTime> since, std::optional<QDateTime> until,
                         QList<QByteArray> *columns, const RowSink &row, const QList<QByteArray> &only)
{
    const std::optional<qint64> id = installationId(installation, false);
    if (!id)
        return false;
    *columns = {"DATETIME"};
    if (*id < 0)
        return true;

    QString where = QStringLiteral("WHERE installation_id = ?");
    QVariantList bound{*id};
    if (since) {
        where += QStringLiteral(" AND recorded_at >= ?");
        bound << since->toString(kWallClockFormat);
    }
    if (until) {
        where += QStringLiteral(" AND recorded_at <= ?");
        bound << until->toString(kWallClockFormat);
    }
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    query.setForwardOnly(true);
    auto run = [&](const QString &text) {
        query.prepare(text);
        for (const QVariant &value : bound)
            query.addBindValue(value);
        return query.exec() || fail(QueryError(query));
    };

    // The columns that hold a value in that range.
    QList<QByteArray> asked;
    for (const QByteArray &column : kArchiveColumns)
        if (only.isEmpty() || only.contains(column))
            asked << column;
    QStringList counts{QStringLiteral("COUNT(*)")};
    for (const QByteArray &column : asked)
        counts << QStringLiteral("COUNT(%1)").arg(LowerName(column));
    if (!run(QStringLiteral("SELECT %1 FROM records %2").arg(counts.join(", "), where)))
        return false;
    if (!query.next())
        return fail(QueryError(query));
    QStringList selected{"datetime"};
    for (int c = 0; c < asked.size(); ++c)
        if (query.value(c + 1).toLongLong() > 0) {
            *columns << asked[c];
            selected << LowerName(asked[c]);
        }
    query.finish();

    if (!run(QStringLiteral("SELECT %1 FROM records %2 %3").arg(selected.join(", "), where, RecordOrder(false))))
        return false;
    QList<std::optional<QByteArray>> values(selected.size());
    while (query.next()) {
        for (int c = 0; c < selected.size(); ++c)
            values[c] = TextBack(query.value(c));
        if (!row(values))
            return true;
    }
    return !query.lastError().isValid() || fail(QueryError(query));
}

std::optional<QList<TStoreInstallationState>> TSiteStore::SiteState(const QStringList &only)
{
    if (!ready())
        return std::nullopt;
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    const bool v2 = version_ >= 2;
    QSqlQuery list(db);
    list.setForwardOnly(true);
    if (!list.exec(v2 ? QStringLiteral("SELECT id, name, serialn, poll_seconds, archive_seconds, started_at, record_count "
                                       "FROM installations ORDER BY name")
                      : QStringLiteral("SELECT id, name, serialn, NULL, NULL, NULL, -1 FROM installations ORDER BY name"))) {
        fail(QueryError(list));
        return std::nullopt;
    }
    QList<std::pair<qint64, TStoreInstallationState>> found;
    while (list.next()) {
        TStoreInstallationState state;
        state.Installation = list.value(1).toString();
        if (!only.isEmpty() && !only.contains(state.Installation))
            continue;
        state.Serial = TextBack(list.value(2)).value_or(QByteArray());
        if (!list.value(3).isNull())
            state.PollSeconds = list.value(3).toInt();
        if (!list.value(4).isNull())
            state.ArchiveSeconds = list.value(4).toInt();
        state.StartedAt = UtcBack(list.value(5));
        state.Records = list.value(6).toLongLong();
        found.append({list.value(0).toLongLong(), state});
    }
    list.finish();

    // Each statement prepared once for all installations.
    QSqlQuery count(db), newest(db), day(db), reading(db), events(db);
    const QString eventKinds = QStringLiteral("'link-lost', 'link-restored', 'stale', 'stale-end', 'stuck', 'stuck-end'");
    const bool prepared =
        count.prepare(QStringLiteral("SELECT COUNT(*) FROM records WHERE installation_id = ?")) &&
        newest.prepare(QStringLiteral("SELECT datetime, recorded_at, alarm1 FROM records WHERE installation_id = ? AND "
                                      "recorded_at IS NOT NULL ORDER BY recorded_at DESC LIMIT 1")) &&
        day.prepare(QStringLiteral("SELECT recorded_at, activity FROM records WHERE installation_id = ? AND "
                                   "recorded_at >= ? AND activity IS NOT NULL ORDER BY recorded_at")) &&
        reading.prepare(QStringLiteral("SELECT at, activity, status, alarm1on, alarm2on FROM readings "
                                       "WHERE installation_id = ? ORDER BY at DESC LIMIT 1")) &&
        events.prepare(QStringLiteral("SELECT kind, MAX(at) FROM events WHERE installation_id = ? AND kind IN (%1) "
                                      "GROUP BY kind")
                           .arg(eventKinds));
    if (!prepared) {
        fail(QueryError(count.lastError().isValid() ? count : newest));
        return std::nullopt;
    }
    auto run = [&](QSqlQuery &query, const QVariantList &bound) {
        for (int i = 0; i < bound.size(); ++i)
            query.bindValue(i, bound[i]);
        return query.exec() || fail(QueryError(query));
    };
    QList<TStoreInstallationState> states;
    for (auto &[id, state] : found) {
        if (state.Records < 0) {
            if (!run(count, {id}))
                return std::nullopt;
            state.Records = count.next() ? count.value(0).toLongLong() : 0;
            count.finish();
        }
        if (!run(newest, {id}))
            return std::nullopt;
        if (newest.next()) {
            state.NewestDatetime = ToCp1251(newest.value(0).toString());
            state.Threshold1 = StoredNumber(TextBack(newest.value(2)));
            const QDateTime last = WallClockBack(newest.value(1));
            newest.finish();
            if (last.isValid()) {
                if (!run(day, {id, last.addSecs(-24 * 3600).toString(kWallClockFormat)}))
                    return std::nullopt;
                while (day.next())
                    if (const std::optional<double> value = StoredNumber(TextBack(day.value(1))))
                        state.Day.append({WallClockBack(day.value(0)), *value});
                day.finish();
            }
        }
        if (!run(reading, {id}))
            return std::nullopt;
        if (reading.next()) {
            state.LastReading = TStoreReading{UtcBack(reading.value(0)), TextBack(reading.value(1)),
                                              TextBack(reading.value(2)), TextBack(reading.value(3)),
                                              TextBack(reading.value(4))};
            state.Activity = StoredNumber(state.LastReading->Activity);
        }
        reading.finish();
        if (!run(events, {id}))
            return std::nullopt;
        while (events.next())
            state.NewestEvent.insert(events.value(0).toString(), UtcBack(events.value(1)));
        events.finish();
        states << state;
    }
    return states;
}

std::optional<QList<TStoreEvent>> TSiteStore::Events(const QString &installation, const QStringList &kinds, int limit)
{
    const std::optional<qint64> id = installationId(installation, false);
    if (!id)
        return std::nullopt;
    QList<TStoreEvent> events;
    if (*id < 0)
        return events;
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    query.setForwardOnly(true);
    QString where = QStringLiteral("installation_id = ?");
    if (!kinds.isEmpty())
        where += QStringLiteral(" AND kind IN (%1)").arg(QStringList(kinds.size(), QStringLiteral("?")).join(", "));
    query.prepare(QStringLiteral("SELECT at, kind, detail FROM events WHERE %1 ORDER BY at DESC LIMIT %2")
                      .arg(where)
                      .arg(std::max(0, limit)));
    query.addBindValue(*id);
    for (const QString &kind : kinds)
        query.addBindValue(kind);
    if (!query.exec()) {
        fail(QueryError(query));
        return std::nullopt;
    }
    while (query.next())
        events << TStoreEvent{UtcBack(query.value(0)), query.value(1).toString(), query.value(2).toString()};
    return events;
}

// --- copying a site ------------------------------------------------------------------

bool TSiteStore::rowsAfter(const QString &installation, const QDateTime &after, const QString &columns,
                           const QString &table, const std::function<bool(const QSqlQuery &)> &row)
{
    const std::optional<qint64> id = installationId(installation, false);
    if (!id)
        return false;
    if (*id < 0)
        return true;
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1 FROM %2 WHERE installation_id = ? %3 ORDER BY at")
                      .arg(columns, table, after.isValid() ? QStringLiteral("AND at > ?") : QString()));
    query.addBindValue(*id);
    if (after.isValid())
        query.addBindValue(UtcText(after));
    if (!query.exec())
        return fail(QueryError(query));
    while (query.next())
        if (!row(query))
            return true;
    return !query.lastError().isValid() || fail(QueryError(query));
}

bool TSiteStore::ReadingsAfter(const QString &installation, const QDateTime &after, const ReadingSink &row)
{
    const QString columns = QStringLiteral("at, activity, status, alarm1on, alarm2on, %1")
                                .arg(version_ >= 2 ? QStringLiteral("collector") : QStringLiteral("NULL"));
    return rowsAfter(installation, after, columns, QStringLiteral("readings"), [&](const QSqlQuery &query) {
        return row(TStoreReading{UtcBack(query.value(0)), TextBack(query.value(1)), TextBack(query.value(2)),
                                 TextBack(query.value(3)), TextBack(query.value(4))},
                   query.value(5).toString());
    });
}

bool TSiteStore::EventsAfter(const QString &installation, const QDateTime &after, const EventSink &row)
{
    return rowsAfter(installation, after, QStringLiteral("at, kind, detail"), QStringLiteral("events"),
                     [&](const QSqlQuery &query) {
                         return row(TStoreEvent{UtcBack(query.value(0)), query.value(1).toString(),
                                                query.value(2).toString()});
                     });
}

std::optional<QDateTime> TSiteStore::NewestAt(const QString &installation, bool events)
{
    const std::optional<qint64> id = installationId(installation, false);
    if (!id)
        return std::nullopt;
    if (*id < 0)
        return QDateTime();
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    query.prepare(QStringLiteral("SELECT at FROM %1 WHERE installation_id = ? ORDER BY at DESC LIMIT 1")
                      .arg(events ? QStringLiteral("events") : QStringLiteral("readings")));
    query.addBindValue(*id);
    if (!query.exec()) {
        fail(QueryError(query));
        return std::nullopt;
    }
    return query.next() ? UtcBack(query.value(0)) : QDateTime();
}
