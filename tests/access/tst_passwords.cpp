#include "access/passwords.h"
#include "protocol/cp1251.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <memory>
#include <vector>

using Entry = QPair<QByteArray, QByteArray>; // privilege, password
using Entries = QList<Entry>;

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

Entries entries(const TPasswords &list)
{
    Entries out;
    for (int i = 0; i < list.Count(); ++i) {
        bool f1 = false, f2 = false;
        out.append({list.GetPrivilegeForIdx(i, f1), list.GetPasswordForIdx(i, f2)});
        if (!f1 || !f2)
            return {};
    }
    return out;
}

class ScriptedAsker : public PasswordAsker {
public:
    bool confirm = true;
    QByteArray answer;
    int asked = 0;
    int wrongReported = 0;
    bool AskPassword(QByteArray &typed) override
    {
        ++asked;
        typed = answer;
        return confirm;
    }
    void ReportWrongPassword() override { ++wrongReported; }
};

// A list with Cyrillic texts, inner and trailing blanks and a repeated password.
const QByteArray kSample = Cp("1-1;1-2;1-3;2-1;2-2;3;4; Главный Инженер\r\n"
                              "1-1;3; operator  \r\n"
                              "4; operator\r\n"
                              "2-1; \r\n");

} // namespace

class TestPasswords : public QObject {
    Q_OBJECT
private slots:
    void init();
    void plainLineSplitting_data();
    void plainLineSplitting();
    void plainFileLines_data();
    void plainFileLines();
    void lookups();
    void caseFolding();
    void startingPrivilege_data();
    void startingPrivilege();
    void missingOrUnreadableFileEmptiesTheLists();
    void plainRoundTrip();
    void scrambledRoundTripAndFormat();
    void keyDependsOnTheFileNameOnly();
    void hexDecoding_data();
    void hexDecoding();
    void lowerCaseHexDecodesWronglyWithoutError();
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

void TestPasswords::plainLineSplitting_data()
{
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("privilege");
    QTest::addColumn<QByteArray>("password");

    QTest::newRow("plain") << true << QByteArray("1-1;1-2; secret") << QByteArray("1-1;1-2;") << QByteArray("secret");
    QTest::newRow("leading blanks and controls lost") << true << QByteArray(" \t\x01 3;4 pw") << QByteArray("3;4") << QByteArray("pw");
    QTest::newRow("blanks inside and after kept") << true << QByteArray("3; two  words  ") << QByteArray("3;") << QByteArray("two  words  ");
    QTest::newRow("blanks before password lost") << true << QByteArray("3;  \t pw") << QByteArray("3;") << QByteArray("pw");
    QTest::newRow("privilege alone") << true << QByteArray("1-1;") << QByteArray("1-1;") << QByteArray();
    QTest::newRow("privilege and one blank") << true << QByteArray("1-1; ") << QByteArray("1-1;") << QByteArray();
    QTest::newRow("tab does not separate") << true << QByteArray("1-1;\tpw") << QByteArray("1-1;\tpw") << QByteArray();
    QTest::newRow("empty line") << true << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("folded: ASCII only") << false << Cp("1-1; abcЖж") << Cp("1-1;") << Cp("ABCЖж");
    QTest::newRow("privilege never folded") << false << QByteArray("x-1; pw") << QByteArray("x-1;") << QByteArray("PW");
}

void TestPasswords::plainLineSplitting()
{
    QFETCH(bool, caseSensitive);
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, privilege);
    QFETCH(QByteArray, password);

    writeFile(path("plain.txt"), line + "\r\n");
    TPasswords list(caseSensitive);
    QVERIFY(list.LoadSourcePasswordsList(path("plain.txt")));
    QCOMPARE(entries(list), Entries({{privilege, password}}));
}

void TestPasswords::plainFileLines_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("lastPassword");

    QTest::newRow("CR LF") << QByteArray("1 a\r\n2 b\r\n") << 2 << QByteArray("b");
    QTest::newRow("LF only") << QByteArray("1 a\n2 b\n") << 2 << QByteArray("b");
    QTest::newRow("no final line end") << QByteArray("1 a\r\n2 b") << 2 << QByteArray("b");
    QTest::newRow("empty file") << QByteArray() << 1 << QByteArray();
    QTest::newRow("one line end") << QByteArray("\r\n") << 1 << QByteArray();
    QTest::newRow("empty line inside") << QByteArray("1 a\r\n\r\n2 b\r\n") << 3 << QByteArray("b");
    QTest::newRow("empty line at the end") << QByteArray("1 a\r\n\r\n") << 2 << QByteArray();
    QTest::newRow("lone CR is no line end") << QByteArray("1 a\rb\r\n") << 1 << QByteArray("a\rb");
}

void TestPasswords::plainFileLines()
{
    QFETCH(QByteArray, content);
    QFETCH(int, count);
    QFETCH(QByteArray, lastPassword);

    writeFile(path("plain.txt"), content);
    TPasswords list;
    QVERIFY(list.LoadSourcePasswordsList(path("plain.txt")));
    QCOMPARE(list.Count(), count);
    bool found = false;
    QCOMPARE(list.GetPasswordForIdx(count - 1, found), lastPassword);
    QVERIFY(found);
}

void TestPasswords::lookups()
{
    writeFile(path("plain.txt"), kSample);
    TPasswords list;
    QVERIFY(list.LoadSourcePasswordsList(path("plain.txt")));
    QCOMPARE(list.Count(), 4);

    // Two entries with one password: the first one counts.
    bool found = false;
    QCOMPARE(list.GetPrivilegeForPassword("operator", found), QByteArray("4;"));
    QVERIFY(found);
    QCOMPARE(list.GetPasswordIdx("operator"), 2);
    QCOMPARE(list.GetPasswordIdx("operator  "), 1); // trailing blanks belong to the password
    QCOMPARE(list.GetPasswordIdx(Cp("Главный Инженер")), 0);
    QCOMPARE(list.GetPrivilegeForPassword("", found), QByteArray("2-1;"));
    QVERIFY(found);

    QCOMPARE(list.GetPasswordIdx("nobody"), -1);
    QCOMPARE(list.GetPrivilegeForPassword("nobody", found), QByteArray());
    QVERIFY(!found);

    for (int idx : {-1, 4, 1000}) {
        found = true;
        QCOMPARE(list.GetPasswordForIdx(idx, found), QByteArray());
        QVERIFY(!found);
        found = true;
        QCOMPARE(list.GetPrivilegeForIdx(idx, found), QByteArray());
        QVERIFY(!found);
    }
    QCOMPARE(list.GetPrivilegeForIdx(3, found), QByteArray("2-1;"));
    QVERIFY(found);
}

void TestPasswords::caseFolding()
{
    writeFile(path("plain.txt"), Cp("3; Admin\r\n4; Пароль\r\n"));

    TPasswords folded(false);
    QVERIFY(folded.LoadSourcePasswordsList(path("plain.txt")));
    QCOMPARE(folded.GetPasswordIdx("admin"), 0);
    QCOMPARE(folded.GetPasswordIdx("ADMIN"), 0);
    QCOMPARE(folded.GetPasswordIdx(Cp("Пароль")), 1);
    QCOMPARE(folded.GetPasswordIdx(Cp("пароль")), -1); // Cyrillic only in the same case
    QCOMPARE(folded.GetPasswordIdx(Cp("ПАРОЛЬ")), -1);

    TPasswords exact(true);
    QVERIFY(exact.LoadSourcePasswordsList(path("plain.txt")));
    QCOMPARE(exact.GetPasswordIdx("Admin"), 0);
    QCOMPARE(exact.GetPasswordIdx("admin"), -1);
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

    // Through the scrambled file, as the window loads it.
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

void TestPasswords::plainRoundTrip()
{
    writeFile(path("in.txt"), QByteArray("  1-1;3; pass word  \n4;\n\n"));
    TPasswords list;
    QVERIFY(list.LoadSourcePasswordsList(path("in.txt")));
    QVERIFY(list.SaveSourcePasswordsList(path("out.txt")));
    QCOMPARE(readFile(path("out.txt")), QByteArray("1-1;3; pass word  \r\n4; \r\n \r\n"));

    TPasswords again;
    QVERIFY(again.LoadSourcePasswordsList(path("out.txt")));
    QCOMPARE(entries(again), entries(list));
}

void TestPasswords::scrambledRoundTripAndFormat()
{
    writeFile(path("plain.txt"), kSample);
    TPasswords list;
    QVERIFY(list.LoadSourcePasswordsList(path("plain.txt")));
    QVERIFY(list.SavePasswordsList(path("kvarn.pwd")));

    // One line per entry: two upper-case digits per plain byte, one blank
    // between numbers, CR LF at the end.
    const QByteArray scrambled = readFile(path("kvarn.pwd"));
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
    QVERIFY(!scrambled.contains("operator"));

    TPasswords again;
    QVERIFY(again.LoadPasswordsList(path("kvarn.pwd")));
    QCOMPARE(entries(again), entries(list));
    QVERIFY(again.SavePasswordsList(path("kvarn.pwd")));
    QCOMPARE(readFile(path("kvarn.pwd")), scrambled);
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
        QCOMPARE(entries(copy), entries(list));
    }

    // Another name: other bytes, and the renamed file no longer reads back.
    for (const QString &other : {QStringLiteral("other.pwd"), QStringLiteral("kvarn.pwe"),
                                 QStringLiteral("kvarn.pwd.bak"), QString()}) {
        QVERIFY(list.ScrambledText(other) != bytes);
        if (other.isEmpty())
            continue;
        writeFile(path(other), bytes);
        TPasswords renamed;
        QVERIFY(renamed.LoadPasswordsList(path(other)));
        QVERIFY(entries(renamed) != entries(list));
        QCOMPARE(renamed.GetPasswordIdx("operator"), -1);
    }

    // Names that differ in one letter still give unrelated sequences.
    TPasswordKey a("kvarn.pwd"), b("kvarn.pwe");
    int same = 0;
    for (int i = 0; i < 1000; ++i)
        same += a.Next() == b.Next();
    QVERIFY2(same < 20, QByteArray::number(same).constData());
}

void TestPasswords::hexDecoding_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("values"); // before the key is applied

    QTest::newRow("upper case") << QByteArray("00 7F A5 FF") << QByteArray("\x00\x7F\xA5\xFF", 4);
    QTest::newRow("blanks and controls around") << QByteArray(" \t41   42 \r") << QByteArray("\x41\x42");
    QTest::newRow("only two digits count") << QByteArray("A5FF 1") << QByteArray("\xA5\x0F", 2);
    QTest::newRow("tab is no separator") << QByteArray("41\t42") << QByteArray("\x41");
    QTest::newRow("lower case letters") << QByteArray("a5 0f") << QByteArray("\xF5\xFF", 2);
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

void TestPasswords::lowerCaseHexDecodesWronglyWithoutError()
{
    writeFile(path("plain.txt"), kSample);
    QVERIFY(EncodePasswordFile(path("plain.txt"), path("kvarn.pwd"), nullptr));
    const QByteArray upper = readFile(path("kvarn.pwd"));
    QVERIFY(QRegularExpression("[A-F]").match(QString::fromLatin1(upper)).hasMatch());

    writeFile(path("kvarn.pwd"), upper.toLower());
    TPasswords list;
    QVERIFY(list.LoadPasswordsList(path("kvarn.pwd")));
    QCOMPARE(list.Count(), 4);
    TPasswords original;
    QVERIFY(original.LoadSourcePasswordsList(path("plain.txt")));
    QVERIFY(entries(list) != entries(original));
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
    if (name.isEmpty())
        QCOMPARE(double(seed), 0.0);

    constexpr int kBytes = 100000;
    TPasswordKey key(name), again(name);
    std::vector<quint8> bytes(kBytes);
    std::array<int, 256> counts{};
    for (int i = 0; i < kBytes; ++i) {
        bytes[size_t(i)] = key.Next();
        ++counts[bytes[size_t(i)]];
        QCOMPARE(again.Next(), bytes[size_t(i)]); // deterministic
    }
    // Chi-square with 255 degrees of freedom: mean 255, deviation about 22.6;
    // 350 lies beyond four deviations.
    const double expected = double(kBytes) / 256.0;
    double chi = 0;
    for (int c : counts)
        chi += (c - expected) * (c - expected) / expected;
    QVERIFY2(chi < 350.0, QByteArray::number(chi).constData());

    // No short cycle.
    for (int period = 1; period <= 1000; ++period) {
        bool repeats = true;
        for (int i = 0; i < 2000 && repeats; ++i)
            repeats = bytes[size_t(i)] == bytes[size_t(i + period)];
        QVERIFY2(!repeats, QByteArray::number(period).constData());
    }
}

void TestPasswords::garbageNeverCrashes()
{
    QRandomGenerator rng(1234);
    QByteArray binary(64 * 1024, '\0');
    for (char &c : binary)
        c = char(rng.bounded(256));
    QByteArray hexLine;
    for (int i = 0; i < 1000000; ++i)
        hexLine += "A5 ";

    const QList<QByteArray> garbage = {
        binary,
        QByteArray(3 * 1024 * 1024, 'F'),                  // one huge number
        hexLine,                                            // one huge line of numbers
        QByteArray(100000, '\n'),                           // many empty lines
        QByteArray("\0\0\0\r\r\r \x1A", 8),
    };
    for (const QByteArray &bytes : garbage) {
        writeFile(path("kvarn.pwd"), bytes);
        TPasswords list(false);
        QVERIFY(list.LoadPasswordsList(path("kvarn.pwd")));
        QVERIFY(list.Count() >= 1);
        QVERIFY(list.LoadSourcePasswordsList(path("kvarn.pwd")));
        QVERIFY(list.Count() >= 1);
        bool found = false;
        list.GetPrivilegeForPassword("x", found);
        QVERIFY(list.SavePasswordsList(path("again.pwd")));
    }

    // Beyond the size a password list can have: refused, lists empty.
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
    bool found = false;
    QCOMPARE(list.GetPasswordForIdx(0, found), QByteArray("ab\ncd"));

    // The plain form cannot hold it: refused, the old file stays.
    writeFile(path("plain.txt"), "old\r\n");
    QVERIFY(!list.SaveSourcePasswordsList(path("plain.txt")));
    QCOMPARE(readFile(path("plain.txt")), QByteArray("old\r\n"));
    QVERIFY(!list.SavePasswordsList(path("copy/kvarn.pwd"))); // no such folder
    QVERIFY(!list.SavePasswordsList(dir_->path()));          // a folder
    QVERIFY(!list.SavePasswordsList(QString()));
    // The scrambled form can hold it.
    QVERIFY(list.SavePasswordsList(path("kvarn.pwd")));
    TPasswords again;
    QVERIFY(again.LoadPasswordsList(path("kvarn.pwd")));
    QCOMPARE(entries(again), entries(list));
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
    QCOMPARE(asker.asked, 1);
    QCOMPARE(asker.wrongReported, wrongReported);

    TPasswords noAsker;
    QVERIFY(!noAsker.EnterPassword(gotPassword, gotPrivilege));
    QCOMPARE(gotPrivilege, QByteArray());
}

void TestPasswords::encodeAndDecodeForTheTool()
{
    writeFile(path("plain.txt"), kSample);
    QString error;
    QVERIFY(EncodePasswordFile(path("plain.txt"), path("site.pwd"), &error));
    QByteArray text;
    QString warning;
    QVERIFY(DecodePasswordFile(path("site.pwd"), &text, &error, &warning));
    QCOMPARE(text, kSample);
    QVERIFY(warning.isEmpty());

    // Decoded under another name: refused or flagged, never silently clean.
    writeFile(path("renamed.pwd"), readFile(path("site.pwd")));
    const bool decoded = DecodePasswordFile(path("renamed.pwd"), &text, &error, &warning);
    QVERIFY(decoded ? !warning.isEmpty() : !error.isEmpty());

    error.clear();
    QVERIFY(!EncodePasswordFile(path("missing.txt"), path("x.pwd"), &error));
    QVERIFY(error.contains("missing.txt"));
    QVERIFY(!QFile::exists(path("x.pwd")));
    QVERIFY(!EncodePasswordFile(path("plain.txt"), path("no/such/x.pwd"), &error));
    QVERIFY(!DecodePasswordFile(path("missing.pwd"), &text, &error));
    QVERIFY(text.isEmpty());
}

QTEST_GUILESS_MAIN(TestPasswords)
#include "tst_passwords.moc"
