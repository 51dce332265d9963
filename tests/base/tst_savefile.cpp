// The atomic save in a folder that may not be written: a writable file there
// is still updated (in place); anything else fails and leaves the file as it
// was. Permissions do not stop a privileged user, so the save runs in a child
// process that gives up its privileges first.

#include "base/savefile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The save's result as an unprivileged process sees it; nothing on failure
// to set that process up.
std::optional<bool> saveAsUnprivileged(const QString &path, const QByteArray &contents)
{
    const pid_t child = fork();
    if (child < 0)
        return std::nullopt;
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        _exit(SaveFileAtomically(path, contents) ? 0 : 1);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) > 1)
        return std::nullopt;
    return WEXITSTATUS(status) == 0;
}

} // namespace

class TestSaveFile : public QObject {
    Q_OBJECT
private slots:
    void readOnlyFolder_data();
    void readOnlyFolder();
};

void TestSaveFile::readOnlyFolder_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<bool>("writable");
    QTest::addColumn<bool>("saved");
    QTest::newRow("writable file: written in place") << true << true << true;
    QTest::newRow("write-protected file: kept") << true << false << false;
    QTest::newRow("no file: none can be made") << false << false << false;
}

void TestSaveFile::readOnlyFolder()
{
    QFETCH(bool, exists);
    QFETCH(bool, writable);
    QFETCH(bool, saved);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath("ro");
    const QString path = folder + "/kvarn.dtf";
    QVERIFY(QDir().mkdir(folder));
    const QByteArray old = "10\r\n";
    if (exists) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(old) == old.size());
        f.close();
        QCOMPARE(chmod(QFile::encodeName(path).constData(), writable ? 0666 : 0444), 0);
    }
    QCOMPARE(chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    QCOMPARE(chmod(QFile::encodeName(folder).constData(), 0555), 0);

    const std::optional<bool> result = saveAsUnprivileged(path, "25\r\n");
    chmod(QFile::encodeName(folder).constData(), 0755); // so that the folder can go
    QVERIFY2(result.has_value(), "the unprivileged child could not run");
    QCOMPARE(*result, saved);
    QCOMPARE(readAll(path), saved ? QByteArray("25\r\n") : exists ? old : QByteArray());
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), exists ? 1 : 0); // no leftovers
}

QTEST_GUILESS_MAIN(TestSaveFile)
#include "tst_savefile.moc"
