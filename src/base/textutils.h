#pragma once
// Small text, byte and number routines shared by the whole program.
//
// Texts are single-byte strings in code page 1251 (QByteArray), as on the wire
// and in the program's files. Positions are 0-based. "Trimming" removes
// leading/trailing characters with codes 0..32; word routines split at the
// blank (32) only.

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <stdexcept>

// A text that is not a number, given to StrToFloatDot.
class EConvertError : public std::runtime_error {
public:
    EConvertError() : std::runtime_error("") {}
};

// --- bytes and hexadecimal -------------------------------------------------
QByteArray ByteToHex(quint8 value, bool keepLeadingZero);
QByteArray BytesToHex(const QByteArray &bytes);
QByteArray BytesToHex(const quint8 *bytes, int count);
quint8 HexToByte(const QByteArray &text);
void ZeroFill(quint8 *buffer, int highIndex);
void StrToBytes(const QByteArray &text, quint8 *buffer);
QByteArray BytesToStr(const quint8 *bytes, int count);
void SwapBytes(int i, int j, quint8 *buffer, int highIndex);

// --- numbers with "." as the decimal separator, whatever the locale ---------
enum class FloatFormat { General, Exponent, Fixed };

// Parses a decimal number written with "." (blanks around it allowed).
// Overflow or underflow gives 0; anything that is not a number throws EConvertError.
long double StrToFloatDot(const QByteArray &text);
// Non-throwing form: ok tells whether the text was a number.
long double StrToFloatDot(const QByteArray &text, bool *ok);
// General format: rounded to `precision` significant digits, trailing zeros
// dropped; fixed notation when the value is 0 or its decimal exponent e
// (value = 0.ddd x 10^e) lies in -3..precision, otherwise d.dddE[-]x.
// Exponent: d.ddd...E+xxx with `precision` digits and at least `digits`
// exponent digits. Fixed: `digits` decimals.
QByteArray FloatToStrFDot(FloatFormat format, int precision, int digits, long double value);
// General format with 15 significant digits.
QByteArray FloatToStrDot(long double value);
// Decimal form of value, padded in front with pad until at least width long.
QByteArray PadLeftInt(qint64 value, const QByteArray &pad, unsigned width);
// Strict decimal integer (optional sign, blanks around allowed); ok false otherwise.
qint64 StrToIntDef(const QByteArray &text, qint64 fallback, bool *ok = nullptr);

// --- texts -----------------------------------------------------------------
QByteArray PadRight(const QByteArray &text, const QByteArray &pad, int width);
void RemoveAll(QByteArray &text, const QByteArray &part);
void ReplaceAll(QByteArray &text, const QByteArray &oldPart, const QByteArray &newPart);
void SplitAt(const QByteArray &text, const QByteArray &separator, QByteArray &left, QByteArray &right);
QByteArray TextBefore(const QByteArray &text, const QByteArray &part);
bool DropThrough(QByteArray &text, const QByteArray &part);
QByteArray FirstWord(const QByteArray &text);
bool DropFirstWord(QByteArray &text);
QByteArray TrimControls(const QByteArray &text);     // codes 0..32 both ends
QByteArray TrimLeftControls(const QByteArray &text); // codes 0..32 in front
QByteArray AsciiUpper(const QByteArray &text);       // a..z only
QByteArray AsciiLower(const QByteArray &text);       // A..Z only
bool SameTextAscii(const QByteArray &a, const QByteArray &b);

// --- counts in Russian --------------------------------------------------------

// The form of a noun that agrees with a count standing before it: one for
// 1, 21, 101 (but not 11), few for 2-4, 22-24 (not 12-14), many otherwise.
// The forms are UTF-8 ("запись", "записи", "записей").
QString CountNoun(qint64 count, const char *one, const char *few, const char *many);
// The count and its noun: "21 запись", "3 записи", "43 записи", "11 записей".
QString CountWithNoun(qint64 count, const char *one, const char *few, const char *many);

// --- program folder and platform --------------------------------------------
// The folder of the running executable, absolute, with a trailing separator.
// Set once at start-up by InitProgramDir (from the executable's real path).
void InitProgramDir();
QString ProgramDir();
// Lets tests and tools point the program folder elsewhere.
void SetProgramDir(const QString &dir);

class TPlatformInfo {
public:
    TPlatformInfo();
    virtual ~TPlatformInfo() = default;

    quint8 PlatformKind = 0; // 1 Win32s, 2 Windows 95 family, 3 NT family, 0 other
    qint32 MajorVersion = 0;
    qint32 MinorVersion = 0;
    qint32 BuildNumber = 0;
    QByteArray ServicePack;
};

// The instance created at start-up (created on first use when nobody did).
const TPlatformInfo &PlatformInfo();
