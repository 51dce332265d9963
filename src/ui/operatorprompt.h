#pragma once
// Every message box, modal window and file dialog that a command opens goes
// through one OperatorPrompt, so that tests can script the operator's answers.

#include <QString>

class QDialog;
class QWidget;

class OperatorPrompt {
public:
    virtual ~OperatorPrompt() = default;

    // The four kinds of message box.
    virtual void Warning(const QString &text) = 0;     // a single Yes button
    virtual void Information(const QString &text) = 0; // OK
    virtual void Error(const QString &text) = 0;       // a single Yes button
    virtual bool Confirm(const QString &text) = 0;     // Yes and No; true for Yes
    // An information box with a single Yes button (where the window's
    // design asks for Yes rather than OK); a prompt without one of its own
    // takes it as Information.
    virtual void Notice(const QString &text) { Information(text); }

    // Shows a window modally and gives its result (QDialog::Accepted, ...).
    virtual int Exec(QDialog &dialog) = 0;

    // File dialogs; an empty name when the operator cancelled. The dialogs
    // on the screen are Qt's own (in Russian with the rest of Qt's texts)
    // and tell files apart by their names only: they never read a file, so
    // no file (one under /proc, a pipe) can hold the window.
    virtual QString OpenFileName(const QString &filter, const QString &defaultSuffix) = 0;
    virtual QString SaveFileName(const QString &filter, const QString &defaultSuffix) = 0;
};

// The real thing: message boxes and dialogs on the screen.
class WidgetPrompt : public OperatorPrompt {
public:
    explicit WidgetPrompt(QWidget *parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget *parent) { parent_ = parent; }

    void Warning(const QString &text) override;
    void Information(const QString &text) override;
    void Error(const QString &text) override;
    bool Confirm(const QString &text) override;
    void Notice(const QString &text) override;
    int Exec(QDialog &dialog) override;
    QString OpenFileName(const QString &filter, const QString &defaultSuffix) override;
    QString SaveFileName(const QString &filter, const QString &defaultSuffix) override;

private:
    QWidget *parent_;
};
