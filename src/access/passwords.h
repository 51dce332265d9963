#pragma once
// Access levels: the list of passwords, each with the privilege text it
// grants, its plain and its scrambled file ("kvarn.pwd"), and the password
// entry through an injected asker (the windows live in the GUI library).
//
// A privilege text names the pages the main window shows: entries ended by
// ";", each a page number optionally followed by "-" and a sub-page number
// ("1-1;1-2;3;"). This class only stores and looks up these texts.
//
// Scrambling hides the list from a casual look; it is not encryption.

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <memory>

#include "protocol/paramlist.h"

// The privilege that holds when no other is known.
inline constexpr char kDefaultPrivilege[] = "1-1;";

// The operator's side of EnterPassword: the password window and the
// wrong-password window, or a script in tests.
class PasswordAsker {
public:
    virtual ~PasswordAsker() = default;
    // Shows the password window with an empty field. True when the operator
    // confirmed with OK; typed then holds the text (code page 1251).
    virtual bool AskPassword(QByteArray &typed) = 0;
    // Tells the operator that the password was wrong.
    virtual void ReportWrongPassword() = 0;
};

// The key sequence that scrambles one file. It depends on the file's own name
// (without its folder, letter case ignored for A..Z) and on nothing else; it
// starts once per file and runs on from line to line. The state is held in
// the 80-bit extended format, so a file reads back only on a build with the
// same format.
class TPasswordKey {
public:
    explicit TPasswordKey(const QString &fileName);

    // The start value in [0, 1) for a file name; an empty name gives 0.
    static long double SeedFromName(const QString &fileName);
    // The key byte that a state value gives.
    static quint8 KeyByte(long double x);
    // The state that follows x, again in [0, 1).
    static long double NextSeed(long double x);

    // The next key byte; the state moves on.
    quint8 Next();

private:
    long double x_;
};

class TPasswords {
public:
    explicit TPasswords(bool caseSensitive = true, PasswordAsker *asker = nullptr);
    ~TPasswords();
    TPasswords(const TPasswords &) = delete;
    TPasswords &operator=(const TPasswords &) = delete;

    // false: passwords are folded to upper case (A..Z only) when stored and
    // when looked up. Fixed at construction so stored and looked-up forms
    // never disagree.
    bool CaseSensitive() const { return caseSensitive_; }

    // The asker is not owned; it must outlive its use by EnterPassword.
    void SetAsker(PasswordAsker *asker) { asker_ = asker; }
    PasswordAsker *Asker() const { return asker_; }

    // The scrambled list. Load: false when the file is missing or unreadable,
    // and the lists are then empty. Save: false on an input/output error; the
    // file is replaced only when the whole list was written.
    bool LoadPasswordsList(const QString &fileName);
    bool SavePasswordsList(const QString &fileName) const;
    // The plain list: one "PRIVILEGE PASSWORD" line per entry. Save also fails
    // (and writes nothing) when an entry holds a line break, which the plain
    // form cannot carry.
    bool LoadSourcePasswordsList(const QString &fileName);
    bool SaveSourcePasswordsList(const QString &fileName) const;

    // Asks for a password. password gets the typed text (folded when the list
    // is not case-sensitive) whenever the operator confirmed; privilege gets
    // the privilege of the first entry with that password. False on cancel,
    // on a wrong password (which the asker reports), without an asker, or if
    // the two lists ever disagreed in length; privilege is then empty.
    bool EnterPassword(QByteArray &password, QByteArray &privilege);

    // Index of the first entry with this password (folded as stored), or -1.
    int GetPasswordIdx(const QByteArray &password) const;
    // Entry texts by index; an index outside 0..Count()-1 gives an empty text
    // and found = false.
    QByteArray GetPasswordForIdx(int idx, bool &found) const;
    QByteArray GetPrivilegeForIdx(int idx, bool &found) const;
    QByteArray GetPrivilegeForPassword(const QByteArray &password, bool &found) const;

    int Count() const { return Password->Count(); }

    // The plain list as text, CR LF after every line, as SaveSourcePasswordsList
    // writes it. ok = false when an entry holds a line break.
    QByteArray SourceText(bool *ok = nullptr) const;
    // The scrambled file's content for a file of this name.
    QByteArray ScrambledText(const QString &fileName) const;

    // Files larger than this are not password lists and are refused on load.
    static constexpr qint64 kMaxFileSize = 4 * 1024 * 1024;
    // A load takes at most this many entries (lines); the lines past them are
    // not read, and counted by RefusedLines. A list of megabytes of empty
    // lines then costs what a list of this length costs.
    static constexpr int kMaxEntries = 4096;
    qsizetype RefusedLines() const { return refusedLines_; }

    // Scrambles one plain line into "HH HH ..." (upper-case hexadecimal).
    static QByteArray ScrambleLine(const QByteArray &plain, TPasswordKey &key);
    // Turns one scrambled line back into plain bytes. Numbers are separated by
    // blanks; only the first two characters of each count, and any character
    // that is not one of "0123456789ABCDEF" (lower-case letters included)
    // decodes as a wrong digit rather than an error.
    static QByteArray UnscrambleLine(const QByteArray &line, TPasswordKey &key);

private:
    QByteArray fold(const QByteArray &password) const;
    void clearLists();
    void appendEntry(const QByteArray &line);
    bool loadLines(const QString &fileName, bool scrambled);

    bool caseSensitive_;
    PasswordAsker *asker_;
    // Entry i of Privilege belongs to entry i of Password; both only grow in
    // pairs and are replaced whole by a load.
    std::unique_ptr<TParamList> Password;
    std::unique_ptr<TParamList> Privilege;
    qsizetype refusedLines_ = 0;
};

// The privilege the main window starts with: that of the empty password when
// the list loaded and gives a non-empty one there, otherwise "1-1;".
QByteArray StartingPrivilege(const TPasswords &passwords, bool listLoaded);

// For the command-line tool. Encode reads a plain list and writes the
// scrambled file under outFile's name; decode reads a scrambled file and gives
// the plain list (CR LF line ends). On failure error gets a reason. Decode
// sets warning when the file holds more lines than a list may have, or when
// the result holds control characters, which is what a file renamed after
// writing (or not a password file at all) decodes to.
bool EncodePasswordFile(const QString &plainFile, const QString &outFile, QString *error);
bool DecodePasswordFile(const QString &file, QByteArray *plainText, QString *error,
                        QString *warning = nullptr);
