#include "access/passwords.h"

#include "base/cp1251.h"
#include "base/savefile.h"
#include "base/textutils.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <limits>

// The key sequence depends on every rounding of its state, so the state must
// be the x87 80-bit extended format (64-bit significand) wherever a password
// file is written or read.
static_assert(std::numeric_limits<long double>::radix == 2 &&
                  std::numeric_limits<long double>::digits == 64,
              "the password key sequence needs the 80-bit extended long double");

namespace {

// The five fixed values of the key sequence. Changing any of them makes every
// existing password file unreadable.
constexpr int kShiftPeriod = 6;           // name character i is shifted by i mod 6 bits
constexpr long double kBase = 13.0L;      // the name sum is divided by 13 until below 1
constexpr long double kScale = 65521.0L;  // key byte = trunc(x * 65521) mod 256
constexpr long double kMultiplier = 8197.0L;
// (sqrt(5) - 1) / 2, rounded to the extended format.
constexpr long double kAdditive = 0.618033988749894848204586834365638118L;

int hexPosition(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0' + 1;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 11;
    return 0;
}

bool isLineBreak(char c) { return c == '\n' || c == '\r'; }

// Lines of a text file: split at LF, a CR just before the LF is part of the
// line end. A final line end does not start another line, and an empty file
// is one empty line.
// The lines of data without their LF or CR LF (an empty file is one empty
// line), at most `most` of them; rest gets the number of lines past those.
QList<QByteArray> splitLines(const QByteArray &data, qsizetype most, qsizetype &rest)
{
    QList<QByteArray> lines;
    rest = 0;
    qsizetype start = 0;
    const qsizetype n = data.size();
    while (start < n) {
        if (lines.size() == most) {
            const qsizetype breaks = QByteArrayView(data).sliced(start).count('\n');
            rest = data.endsWith('\n') ? breaks : breaks + 1;
            break;
        }
        qsizetype lf = data.indexOf('\n', start);
        const qsizetype next = lf < 0 ? n : lf + 1;
        qsizetype end = lf < 0 ? n : lf;
        if (lf >= 0 && end > start && data.at(end - 1) == '\r')
            --end;
        lines.append(data.mid(start, end - start));
        start = next;
    }
    if (lines.isEmpty())
        lines.append(QByteArray());
    return lines;
}

bool writeWhole(const QString &fileName, const QByteArray &content)
{
    return SaveFileAtomically(fileName, content);
}

// Reads a whole regular file of at most kMaxFileSize bytes.
bool readWhole(const QString &fileName, QByteArray &content)
{
    content.clear();
    if (fileName.isEmpty())
        return false;
    const QFileInfo info(fileName);
    if (!info.exists() || !info.isFile())
        return false;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (file.size() > TPasswords::kMaxFileSize)
        return false;
    content = file.read(TPasswords::kMaxFileSize + 1);
    if (file.error() != QFileDevice::NoError || content.size() > TPasswords::kMaxFileSize) {
        content.clear();
        return false;
    }
    return true;
}

} // namespace

// --- key sequence -------------------------------------------------------------

TPasswordKey::TPasswordKey(const QString &fileName) : x_(SeedFromName(fileName)) {}

long double TPasswordKey::SeedFromName(const QString &fileName)
{
    const QByteArray name = AsciiLower(ToCp1251(QFileInfo(fileName).fileName()));
    quint64 sum = 0;
    for (qsizetype i = 0; i < name.size(); ++i)
        sum += quint64(quint8(name.at(i))) << (i % kShiftPeriod);
    long double x = static_cast<long double>(sum);
    while (std::floor(x) > 0.0L)
        x /= kBase;
    return x;
}

quint8 TPasswordKey::KeyByte(long double x)
{
    if (!(x >= 0.0L && x < 1.0L))
        return 0;
    return quint8(quint64(std::floor(x * kScale)) % 256u);
}

long double TPasswordKey::NextSeed(long double x)
{
    const long double t = x * kMultiplier + kAdditive;
    return t - std::floor(t);
}

quint8 TPasswordKey::Next()
{
    const quint8 b = KeyByte(x_);
    x_ = NextSeed(x_);
    return b;
}

// --- the list -------------------------------------------------------------------

TPasswords::TPasswords(bool caseSensitive, PasswordAsker *asker)
    : caseSensitive_(caseSensitive), asker_(asker), Password(std::make_unique<TParamList>()),
      Privilege(std::make_unique<TParamList>())
{
}

TPasswords::~TPasswords() = default;

QByteArray TPasswords::fold(const QByteArray &password) const
{
    return caseSensitive_ ? password : AsciiUpper(password);
}

void TPasswords::clearLists()
{
    Password = std::make_unique<TParamList>();
    Privilege = std::make_unique<TParamList>();
    refusedLines_ = 0;
}

// A line is: blanks and control characters, the privilege up to the first
// blank, one blank, more blanks or control characters, the password (trailing
// blanks kept). A line without a blank is a privilege with an empty password.
void TPasswords::appendEntry(const QByteArray &line)
{
    const qsizetype n = line.size();
    qsizetype i = 0;
    while (i < n && quint8(line.at(i)) <= 32)
        ++i;
    const qsizetype blank = line.indexOf(' ', i);
    QByteArray privilege;
    QByteArray password;
    if (blank < 0) {
        privilege = line.mid(i);
    } else {
        privilege = line.mid(i, blank - i);
        qsizetype j = blank + 1;
        while (j < n && quint8(line.at(j)) <= 32)
            ++j;
        password = line.mid(j);
    }
    Password->AddName(fold(password));
    Privilege->AddName(privilege);
}

bool TPasswords::loadLines(const QString &fileName, bool scrambled)
{
    clearLists();
    QByteArray content;
    if (!readWhole(fileName, content))
        return false;
    const QList<QByteArray> lines = splitLines(content, kMaxEntries, refusedLines_);
    TPasswordKey key(fileName);
    for (const QByteArray &line : lines)
        appendEntry(scrambled ? UnscrambleLine(line, key) : line);
    return true;
}

bool TPasswords::LoadPasswordsList(const QString &fileName) { return loadLines(fileName, true); }

bool TPasswords::LoadSourcePasswordsList(const QString &fileName) { return loadLines(fileName, false); }

QByteArray TPasswords::SourceText(bool *ok) const
{
    QByteArray out;
    bool good = true;
    for (int i = 0; i < Count(); ++i) {
        bool f = false;
        const QByteArray privilege = GetPrivilegeForIdx(i, f);
        const QByteArray password = GetPasswordForIdx(i, f);
        if (std::any_of(privilege.begin(), privilege.end(), isLineBreak) ||
            std::any_of(password.begin(), password.end(), isLineBreak))
            good = false;
        out += privilege + ' ' + password + "\r\n";
    }
    if (ok)
        *ok = good;
    return out;
}

QByteArray TPasswords::ScrambledText(const QString &fileName) const
{
    TPasswordKey key(fileName);
    QByteArray out;
    for (int i = 0; i < Count(); ++i) {
        bool f = false;
        const QByteArray plain = GetPrivilegeForIdx(i, f) + ' ' + GetPasswordForIdx(i, f);
        out += ScrambleLine(plain, key) + "\r\n";
    }
    return out;
}

bool TPasswords::SaveSourcePasswordsList(const QString &fileName) const
{
    bool ok = false;
    const QByteArray text = SourceText(&ok);
    return ok && writeWhole(fileName, text);
}

bool TPasswords::SavePasswordsList(const QString &fileName) const
{
    return writeWhole(fileName, ScrambledText(fileName));
}

QByteArray TPasswords::ScrambleLine(const QByteArray &plain, TPasswordKey &key)
{
    static const char digits[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(plain.size() * 3);
    for (qsizetype i = 0; i < plain.size(); ++i) {
        const quint8 v = quint8(plain.at(i)) ^ key.Next();
        if (i > 0)
            out += ' ';
        out += digits[v >> 4];
        out += digits[v & 0x0F];
    }
    return out;
}

QByteArray TPasswords::UnscrambleLine(const QByteArray &line, TPasswordKey &key)
{
    QByteArray out;
    const qsizetype n = line.size();
    qsizetype i = 0;
    for (;;) {
        while (i < n && quint8(line.at(i)) <= 32)
            ++i;
        if (i >= n)
            break;
        qsizetype end = line.indexOf(' ', i);
        if (end < 0)
            end = n;
        const int p1 = hexPosition(line.at(i));
        const int p2 = end - i >= 2 ? hexPosition(line.at(i + 1)) : 0;
        const quint8 v = quint8(((p1 - 1) * 16 + (p2 - 1)) & 0xFF);
        out += char(v ^ key.Next());
        i = end;
    }
    return out;
}

// --- look-ups -------------------------------------------------------------------

int TPasswords::GetPasswordIdx(const QByteArray &password) const
{
    return Password->IndexOfName(fold(password));
}

QByteArray TPasswords::GetPasswordForIdx(int idx, bool &found) const
{
    const TParamListItem *item = Password->GetItem(idx);
    found = item != nullptr;
    return item ? item->Name : QByteArray();
}

QByteArray TPasswords::GetPrivilegeForIdx(int idx, bool &found) const
{
    const TParamListItem *item = Privilege->GetItem(idx);
    found = item != nullptr;
    return item ? item->Name : QByteArray();
}

QByteArray TPasswords::GetPrivilegeForPassword(const QByteArray &password, bool &found) const
{
    return GetPrivilegeForIdx(GetPasswordIdx(password), found);
}

bool TPasswords::EnterPassword(QByteArray &password, QByteArray &privilege)
{
    password.clear();
    privilege.clear();
    if (Password->Count() != Privilege->Count() || !asker_)
        return false;
    QByteArray typed;
    if (!asker_->AskPassword(typed))
        return false;
    password = fold(typed);
    const int idx = Password->IndexOfName(password);
    if (idx < 0) {
        asker_->ReportWrongPassword();
        return false;
    }
    bool found = false;
    privilege = GetPrivilegeForIdx(idx, found);
    return true;
}

// --- helpers for the main window and the command-line tool -----------------------

QByteArray StartingPrivilege(const TPasswords &passwords, bool listLoaded)
{
    if (listLoaded) {
        bool found = false;
        const QByteArray privilege = passwords.GetPrivilegeForPassword(QByteArray(), found);
        if (found && !privilege.isEmpty())
            return privilege;
    }
    return QByteArray(kDefaultPrivilege);
}

bool EncodePasswordFile(const QString &plainFile, const QString &outFile, QString *error)
{
    TPasswords list(true);
    if (!list.LoadSourcePasswordsList(plainFile)) {
        if (error)
            *error = QStringLiteral("cannot read the plain list %1").arg(plainFile);
        return false;
    }
    if (!list.SavePasswordsList(outFile)) {
        if (error)
            *error = QStringLiteral("cannot write %1").arg(outFile);
        return false;
    }
    return true;
}

bool DecodePasswordFile(const QString &file, QByteArray *plainText, QString *error, QString *warning)
{
    if (plainText)
        plainText->clear();
    if (warning)
        warning->clear();
    TPasswords list(true);
    if (!list.LoadPasswordsList(file)) {
        if (error)
            *error = QStringLiteral("cannot read %1").arg(file);
        return false;
    }
    bool ok = false;
    const QByteArray text = list.SourceText(&ok);
    if (!ok) {
        if (error)
            *error = QStringLiteral("%1 decodes to entries with line breaks: it was renamed after "
                                    "it was written, or it is not a password file")
                         .arg(file);
        return false;
    }
    if (warning && list.RefusedLines() > 0) {
        *warning = QStringLiteral("%1 holds %2 lines more than the %3 entries a password list may have; "
                                  "they are not read")
                       .arg(file)
                       .arg(list.RefusedLines())
                       .arg(TPasswords::kMaxEntries);
    } else if (warning) {
        // Everything but the CR LF line ends should be printable.
        bool strange = false;
        for (qsizetype i = 0; i < text.size() && !strange; ++i) {
            const quint8 c = quint8(text.at(i));
            strange = (c < 32 && c != '\r' && c != '\n') || c == 127;
        }
        if (strange)
            *warning = QStringLiteral("%1 decodes to control characters: it was probably renamed "
                                      "after it was written, or it is not a password file")
                           .arg(file);
    }
    if (plainText)
        *plainText = text;
    return true;
}
