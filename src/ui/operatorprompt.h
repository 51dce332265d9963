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

    // Shows a window modally and gives its result (QDialog::Accepted, ...).
    virtual int Exec(QDialog &dialog) = 0;

    // File dialogs; an empty name when the operator cancelled.
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
    int Exec(QDialog &dialog) override;
    QString OpenFileName(const QString &filter, const QString &defaultSuffix) override;
    QString SaveFileName(const QString &filter, const QString &defaultSuffix) override;

private:
    QWidget *parent_;
};
