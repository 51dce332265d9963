#include "access/passwords.h"
#include "base/cp1251.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <memory>

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The whole list as "privilege|password" lines, for readable comparisons.
QByteArray dump(const TPasswords &list)
{
    QByteArray out;
    for (int i = 0; i < list.Count(); ++i) {
        bool f1 = false, f2 = false;
        out += list.GetPrivilegeForIdx(i, f1) + '|' + list.GetPasswordForIdx(i, f2) + '\n';
        if (!f1 || !f2)
            return "entry not found";
    }
    return out;
}

class ScriptedAsker : public PasswordAsker {
public:
    bool confirm = true;
    QByteArray answer;
    int wrongReported = 0;
    bool AskPassword(QByteArray &typed) override
    {
        typed = answer;
        return confirm;
    }
    void ReportWrongPassword() override { ++wrongReported; }
};

// Cyrillic, inner and trailing blanks, one password twice, an empty password.
const QByteArray kSample = Cp("1-1;1-2;1-3;2-1;2-2;3;4; Главный Инженер\r\n"
                              "1-1;3; operator  \r\n"
                              "4; operator\r\n"
                              "2-1; \r\n");

} // namespace

class TestPasswords : public QObject {
    Q_OBJECT
private slots:
    void init();
    void plainLines_data();
    void plainLines();
    void lookups();
    void startingPrivilege_data();
    void startingPrivilege();
    void missingOrUnreadableFileEmptiesTheLists();
    void roundTrips();
    void keyDependsOnTheFileNameOnly();
    void hexDecoding_data();
    void hexDecoding();
    void lowerCaseFileLoadsWrongly();
    void keyBytesSpreadOverAllValues_data();
    void keyBytesSpreadOverAllValues();
    void garbageNeverCrashes();
    void failedSavesLeaveTheFileAlone();
    void enterPassword_data();
    void enterPassword();
    void encodeAndDecodeForTheTool();

private:
    QString path(const QString &name) const { return dir_->filePath(name); }
    std::unique_ptr<QTemporaryDir> dir_;
};

void TestPasswords::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void TestPasswords::plainLines_data()
{
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("entries");

    QTest::newRow("privilege and password") << true << QByteArray("1-1;1-2; secret\r\n") << QByteArray("1-1;1-2;|secret\n");
    QTest::newRow("leading blanks and controls lost") << true << QByteArray(" \t\x01 3;4   \t pw\r\n") << QByteArray("3;4|pw\n");
    QTest::newRow("blanks inside and after kept") << true << QByteArray("3; two  words  \r\n") << QByteArray("3;|two  words  \n");
    QTest::newRow("privilege alone") << true << QByteArray("1-1;\r\n1-2; \r\n") << QByteArray("1-1;|\n1-2;|\n");
    QTest::newRow("tab does not separate") << true << QByteArray("1-1;\tpw\r\n") << QByteArray("1-1;\tpw|\n");
    QTest::newRow("folding is ASCII only") << false << Cp("x-1; abcЖж\r\n") << Cp("x-1;|ABCЖж\n");
    QTest::newRow("LF only") << true << QByteArray("1 a\n2 b\n") << QByteArray("1|a\n2|b\n");
    QTest::newRow("no final line end") << true << QByteArray("1 a\r\n2 b") << QByteArray("1|a\n2|b\n");
    QTest::newRow("empty file") << true << QByteArray() << QByteArray("|\n");
    QTest::newRow("one line end") << true << QByteArray("\r\n") << QByteArray("|\n");
    QTest::newRow("empty lines") << true << QByteArray("1 a\r\n\r\n2 b\r\n\r\n") << QByteArray("1|a\n|\n2|b\n|\n");
    QTest::newRow("lone CR is no line end") << true << QByteArray("1 a\rb\r\n") << QByteArray("1|a\rb\n");
}

void TestPasswords::plainLines()
{
    QFETCH(bool, caseSensitive);
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, entries);

    writeFile(path("plain.txt"), content);
    TPasswords list(caseSensitive);
    QVERIFY(list.LoadSourcePasswordsList(path("plain.txt")));
    QCOMPARE(dump(list), entries);
}

void TestPasswords::lookups()
{
    writeFile(path("plain.txt"), kSample + Cp("3; Admin\r\n4; Пароль\r\n"));
    TPasswords list(true), folded(false);
    QVERIFY(list.LoadSourcePasswordsList(path("plain.txt")));
    QVERIFY(folded.LoadSourcePasswordsList(path("plain.txt")));

    // Two entries with one password: the first one counts.
    bool found = false;
    QCOMPARE(list.GetPrivilegeForPassword("operator", found), QByteArray("4;"));
    QVERIFY(found);
    QCOMPARE(list.GetPasswordIdx("operator  "), 1); // trailing blanks belong to the password
    QCOMPARE(list.GetPrivilegeForPassword("nobody", found), QByteArray());
    QVERIFY(!found);

    for (int idx : {-1, list.Count(), 1000}) {
        found = true;
        QCOMPARE(list.GetPasswordForIdx(idx, found), QByteArray());
        QVERIFY(!found);
        found = true;
        QCOMPARE(list.GetPrivilegeForIdx(idx, found), QByteArray());
        QVERIFY(!found);
    }

    // Letter case: Latin letters fold when asked to, Cyrillic ones never.
    QCOMPARE(list.GetPasswordIdx("admin"), -1);
    QCOMPARE(folded.GetPasswordIdx("admin"), 4);
    QCOMPARE(folded.GetPasswordIdx(Cp("Пароль")), 5);
    QCOMPARE(folded.GetPasswordIdx(Cp("пароль")), -1);
    QCOMPARE(folded.GetPasswordIdx(Cp("ПАРОЛЬ")), -1);
}

void TestPasswords::startingPrivilege_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("start");

    QTest::newRow("entry with empty password") << QByteArray("3;4;\r\n1-1; pw\r\n") << QByteArray("3;4;");
    QTest::newRow("its privilege empty") << QByteArray(" \r\n3; pw\r\n") << QByteArray("1-1;");
    QTest::newRow("empty file") << QByteArray() << QByteArray("1-1;");
    QTest::newRow("no empty password") << QByteArray("3; pw\r\n") << QByteArray("1-1;");
}

void TestPasswords::startingPrivilege()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, start);

    // Through the scrambled file, as the main window loads it.
    writeFile(path("plain.txt"), content);
    QVERIFY(EncodePasswordFile(path("plain.txt"), path("kvarn.pwd"), nullptr));
    TPasswords list;
    const bool loaded = list.LoadPasswordsList(path("kvarn.pwd"));
    QVERIFY(loaded);
    QCOMPARE(StartingPrivilege(list, loaded), start);
}

void TestPasswords::missingOrUnreadableFileEmptiesTheLists()
{
    writeFile(path("plain.txt"), kSample);
    TPasswords list;
    for (const QString &name : {path("missing.pwd"), dir_->path(), QString()}) {
        QVERIFY(list.LoadSourcePasswordsList(path("plain.txt")));
        QVERIFY(!list.LoadPasswordsList(name));
        QCOMPARE(list.Count(), 0);
        QVERIFY(list.LoadSourcePasswordsList(path("plain.txt")));
        QVERIFY(!list.LoadSourcePasswordsList(name));
        QCOMPARE(list.Count(), 0);
    }
    QCOMPARE(StartingPrivilege(list, false), QByteArray("1-1;"));
}

void TestPasswords::roundTrips()
{
    writeFile(path("in.txt"), kSample + "  3; x\n\n");
    TPasswords list;
    QVERIFY(list.LoadSourcePasswordsList(path("in.txt")));

    QVERIFY(list.SaveSourcePasswordsList(path("out.txt")));
    QCOMPARE(readFile(path("out.txt")), kSample + "3; x\r\n \r\n");

    QVERIFY(list.SavePasswordsList(path("kvarn.pwd")));
    const QByteArray scrambled = readFile(path("kvarn.pwd"));
    QVERIFY(!scrambled.contains("operator"));
    // Per entry one line of two upper-case digits per plain byte, single
    // blanks between them, CR LF at the end.
    QList<QByteArray> lines = scrambled.split('\n');
    QCOMPARE(lines.takeLast(), QByteArray());
    QCOMPARE(lines.size(), list.Count());
    const QRegularExpression form("^[0-9A-F]{2}( [0-9A-F]{2})*\r$");
    for (int i = 0; i < lines.size(); ++i) {
        QVERIFY2(form.match(QString::fromLatin1(lines[i])).hasMatch(), lines[i].constData());
        bool f = false;
        const QByteArray plain = list.GetPrivilegeForIdx(i, f) + ' ' + list.GetPasswordForIdx(i, f);
        QCOMPARE(lines[i].size(), plain.size() * 3);
    }

    for (const QString &name : {QStringLiteral("out.txt"), QStringLiteral("kvarn.pwd")}) {
        TPasswords again;
        QVERIFY(name.endsWith("pwd") ? again.LoadPasswordsList(path(name)) : again.LoadSourcePasswordsList(path(name)));
        QCOMPARE(dump(again), dump(list));
    }
}

void TestPasswords::keyDependsOnTheFileNameOnly()
{
    writeFile(path("plain.txt"), kSample);
    TPasswords list;
    QVERIFY(list.LoadSourcePasswordsList(path("plain.txt")));
    QVERIFY(list.SavePasswordsList(path("kvarn.pwd")));
    const QByteArray bytes = readFile(path("kvarn.pwd"));

    // The folder and the case of A..Z do not matter.
    QVERIFY(QDir(dir_->path()).mkpath("sub"));
    for (const QString &same : {path("sub/kvarn.pwd"), path("KVARN.PWD")}) {
        writeFile(same, bytes);
        TPasswords copy;
        QVERIFY(copy.LoadPasswordsList(same));
        QCOMPARE(dump(copy), dump(list));
    }

    // Another name gives other bytes, and the file renamed after writing
    // still loads but no longer reads back.
    for (const char *other : {"other.pwd", "kvarn.pwe", "kvarn.pwd.bak"}) {
        QVERIFY(list.ScrambledText(other) != bytes);
        writeFile(path(other), bytes);
        TPasswords renamed;
        QVERIFY(renamed.LoadPasswordsList(path(other)));
        QVERIFY(dump(renamed) != dump(list));
        QCOMPARE(renamed.GetPasswordIdx("operator"), -1);
    }
}

void TestPasswords::hexDecoding_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("values"); // before the key is applied

    QTest::newRow("upper case") << QByteArray("00 7F A5 FF") << QByteArray("\x00\x7F\xA5\xFF", 4);
    QTest::newRow("blanks and controls around") << QByteArray(" \t41   42 \r") << QByteArray("\x41\x42");
    QTest::newRow("only two digits count") << QByteArray("A5FF 1") << QByteArray("\xA5\x0F", 2);
    QTest::newRow("tab is no separator") << QByteArray("41\t42") << QByteArray("\x41");
    QTest::newRow("lower case decodes wrongly") << QByteArray("a5 0f") << QByteArray("\xF5\xFF", 2);
    QTest::newRow("other characters") << QByteArray("G0 0Z") << QByteArray("\xF0\xFF", 2);
    QTest::newRow("nothing") << QByteArray(" \t ") << QByteArray();
}

void TestPasswords::hexDecoding()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, values);

    TPasswordKey decodeKey("kvarn.pwd"), expectKey("kvarn.pwd");
    QByteArray expected;
    for (char v : values)
        expected += char(quint8(v) ^ expectKey.Next());
    QCOMPARE(TPasswords::UnscrambleLine(line, decodeKey), expected);
}

// A whole file written in lower case loads without complaint, but wrong.
void TestPasswords::lowerCaseFileLoadsWrongly()
{
    writeFile(path("plain.txt"), kSample);
    QVERIFY(EncodePasswordFile(path("plain.txt"), path("kvarn.pwd"), nullptr));
    writeFile(path("kvarn.pwd"), readFile(path("kvarn.pwd")).toLower());
    TPasswords lower, plain;
    QVERIFY(lower.LoadPasswordsList(path("kvarn.pwd")));
    QVERIFY(plain.LoadSourcePasswordsList(path("plain.txt")));
    QCOMPARE(lower.Count(), plain.Count());
    QVERIFY(dump(lower) != dump(plain));
}

void TestPasswords::keyBytesSpreadOverAllValues_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("kvarn.pwd") << QStringLiteral("kvarn.pwd");
    QTest::newRow("empty name") << QString();
    QTest::newRow("one letter") << QStringLiteral("a");
    QTest::newRow("long Cyrillic") << QStringLiteral("пароли установки номер 7.pwd");
}

void TestPasswords::keyBytesSpreadOverAllValues()
{
    QFETCH(QString, name);
    const long double seed = TPasswordKey::SeedFromName(name);
    QVERIFY(seed >= 0.0L && seed < 1.0L);

    constexpr int kBytes = 100000;
    TPasswordKey key(name), again(name);
    std::array<int, 256> counts{};
    for (int i = 0; i < kBytes; ++i) {
        const quint8 b = key.Next();
        ++counts[b];
        QCOMPARE(again.Next(), b); // deterministic
    }
    // Chi-square, 255 degrees of freedom: mean 255, deviation about 22.6;
    // 350 lies beyond four deviations.
    const double expected = double(kBytes) / 256.0;
    double chi = 0;
    for (int c : counts)
        chi += (c - expected) * (c - expected) / expected;
    QVERIFY2(chi < 350.0, QByteArray::number(chi).constData());
}

void TestPasswords::garbageNeverCrashes()
{
    QRandomGenerator rng(1234);
    QByteArray binary(64 * 1024, '\0');
    for (char &c : binary)
        c = char(rng.bounded(256));

    const QList<QByteArray> garbage = {
        binary,
        QByteArray(3 * 1024 * 1024, 'F'), // one huge number
        QByteArray("A5 ").repeated(1000000), // one huge line of numbers
        QByteArray(100000, '\n'),
        QByteArray("\0\0\0\r\r\r \x1A", 8),
    };
    for (const QByteArray &bytes : garbage) {
        writeFile(path("kvarn.pwd"), bytes);
        TPasswords list(false);
        QVERIFY(list.LoadPasswordsList(path("kvarn.pwd")));
        QVERIFY(list.Count() >= 1);
        QVERIFY(list.SavePasswordsList(path("again.pwd")));
        QVERIFY(list.LoadSourcePasswordsList(path("kvarn.pwd")));
        QVERIFY(list.Count() >= 1);
        QVERIFY(list.Count() <= TPasswords::kMaxEntries);
        QCOMPARE(list.Count() + list.RefusedLines(), qsizetype(bytes.count('\n') + !bytes.endsWith('\n')));
    }

    // Larger than any password list: refused, lists empty.
    writeFile(path("kvarn.pwd"), QByteArray(int(TPasswords::kMaxFileSize) + 1, ' '));
    TPasswords list;
    QVERIFY(!list.LoadPasswordsList(path("kvarn.pwd")));
    QCOMPARE(list.Count(), 0);
}

void TestPasswords::failedSavesLeaveTheFileAlone()
{
    // A scrambled line that decodes to an entry with a line feed inside.
    TPasswordKey key("kvarn.pwd");
    writeFile(path("kvarn.pwd"), TPasswords::ScrambleLine("3; ab\ncd", key) + "\r\n");
    TPasswords list;
    QVERIFY(list.LoadPasswordsList(path("kvarn.pwd")));
    QCOMPARE(dump(list), QByteArray("3;|ab\ncd\n"));

    // The plain form cannot carry it: refused, the old file stays.
    writeFile(path("plain.txt"), "old\r\n");
    QVERIFY(!list.SaveSourcePasswordsList(path("plain.txt")));
    QCOMPARE(readFile(path("plain.txt")), QByteArray("old\r\n"));

    QVERIFY(!list.SavePasswordsList(path("no/such/kvarn.pwd")));
    QVERIFY(!list.SavePasswordsList(dir_->path()));
    QVERIFY(!list.SavePasswordsList(QString()));
    // The scrambled form carries it.
    QVERIFY(list.SavePasswordsList(path("kvarn.pwd")));
    TPasswords again;
    QVERIFY(again.LoadPasswordsList(path("kvarn.pwd")));
    QCOMPARE(dump(again), dump(list));
}

void TestPasswords::enterPassword_data()
{
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QByteArray>("typed");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("privilege");
    QTest::addColumn<int>("wrongReported");

    QTest::newRow("right") << true << true << QByteArray("operator") << true << QByteArray("operator") << QByteArray("4;") << 0;
    QTest::newRow("empty entry is valid") << true << true << QByteArray() << true << QByteArray() << QByteArray("2-1;") << 0;
    QTest::newRow("wrong") << true << true << QByteArray("Operator") << false << QByteArray("Operator") << QByteArray() << 1;
    QTest::newRow("folded") << false << true << QByteArray("Operator") << true << QByteArray("OPERATOR") << QByteArray("4;") << 0;
    QTest::newRow("cancelled") << true << false << QByteArray("operator") << false << QByteArray() << QByteArray() << 0;
}

void TestPasswords::enterPassword()
{
    QFETCH(bool, caseSensitive);
    QFETCH(bool, confirm);
    QFETCH(QByteArray, typed);
    QFETCH(bool, result);
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, privilege);
    QFETCH(int, wrongReported);

    writeFile(path("plain.txt"), kSample);
    ScriptedAsker asker;
    asker.confirm = confirm;
    asker.answer = typed;
    TPasswords list(caseSensitive, &asker);
    QVERIFY(list.LoadSourcePasswordsList(path("plain.txt")));

    QByteArray gotPassword = "stale", gotPrivilege = "stale";
    QCOMPARE(list.EnterPassword(gotPassword, gotPrivilege), result);
    QCOMPARE(gotPassword, password);
    QCOMPARE(gotPrivilege, privilege);
    QCOMPARE(asker.wrongReported, wrongReported);
}

void TestPasswords::encodeAndDecodeForTheTool()
{
    writeFile(path("plain.txt"), kSample);
    QString error, warning;
    QByteArray text;
    QVERIFY(EncodePasswordFile(path("plain.txt"), path("site.pwd"), &error));
    QVERIFY(DecodePasswordFile(path("site.pwd"), &text, &error, &warning));
    QCOMPARE(text, kSample);
    QVERIFY(warning.isEmpty());

    // Decoded under another name: refused or flagged, never silently clean.
    writeFile(path("renamed.pwd"), readFile(path("site.pwd")));
    const bool decoded = DecodePasswordFile(path("renamed.pwd"), &text, &error, &warning);
    QVERIFY(decoded ? !warning.isEmpty() : !error.isEmpty());

    QVERIFY(!EncodePasswordFile(path("missing.txt"), path("x.pwd"), &error));
    QVERIFY(error.contains("missing.txt"));
    QVERIFY(!QFile::exists(path("x.pwd")));
    QVERIFY(!EncodePasswordFile(path("plain.txt"), path("no/such/x.pwd"), &error));
    QVERIFY(!DecodePasswordFile(path("missing.pwd"), &text, &error));
    QVERIFY(text.isEmpty());
}

QTEST_GUILESS_MAIN(TestPasswords)
#include "tst_passwords.moc"
