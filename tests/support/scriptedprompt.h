#pragma once
// An OperatorPrompt for tests: the operator's answers are queued in advance,
// in the order the prompts will come, and every prompt is recorded. A prompt
// that no answer was queued for, or that comes in place of another kind,
// fails the running test at once (it never waits): it gives the cautious
// answer (No, Rejected, no file) and is listed in Unexpected().

#include "ui/operatorprompt.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>

class ScriptedPrompt : public OperatorPrompt {
public:
    enum class Kind { Warning, Information, Error, Confirm, Exec, OpenFile, SaveFile };

    // One prompt as it came: the message, the dialog's objectName (or its
    // title when it has none), or the file dialog's filter.
    struct Shown {
        Kind kind;
        QString text;
    };

    // Runs while the prompt is "on the screen", e.g. to look at the window's state.
    using WhileShown = std::function<void()>;

    ScriptedPrompt() = default;
    ~ScriptedPrompt() override;

    void ExpectWarning(WhileShown whileShown = {});
    void ExpectInformation(WhileShown whileShown = {});
    void ExpectError(WhileShown whileShown = {});
    void ExpectConfirm(bool yes, WhileShown whileShown = {});
    // The callback plays the operator in the dialog and gives its result
    // (QDialog::Accepted, ...), which is also set as the dialog's result.
    void ExpectExec(std::function<int(QDialog &)> operate);
    // An empty name is the operator cancelling.
    void ExpectOpenFile(const QString &fileName);
    void ExpectSaveFile(const QString &fileName);

    // Let message boxes with a single button (warning, information, error)
    // pass without a queued answer; they are still recorded.
    void AllowUnscriptedMessages(bool allow) { allowMessages_ = allow; }

    const QList<Shown> &Log() const { return log_; }
    QStringList Messages(Kind kind) const;
    QStringList Messages() const; // every message box's text, in order
    void ClearLog() { log_.clear(); }

    int PendingAnswers() const { return int(queue_.size()); }
    const QStringList &Unexpected() const { return unexpected_; }

    static const char *KindName(Kind kind);

    // OperatorPrompt
    void Warning(const QString &text) override;
    void Information(const QString &text) override;
    void Error(const QString &text) override;
    bool Confirm(const QString &text) override;
    int Exec(QDialog &dialog) override;
    QString OpenFileName(const QString &filter, const QString &defaultSuffix) override;
    QString SaveFileName(const QString &filter, const QString &defaultSuffix) override;

private:
    struct Answer {
        Kind kind;
        bool yes = false;
        QString fileName;
        WhileShown whileShown;
        std::function<int(QDialog &)> operate;
    };

    // Records the prompt and takes its queued answer; false, after failing
    // the test, when the next queued answer is missing or of another kind.
    bool Take(Kind kind, const QString &text, Answer &answer);
    void Message(Kind kind, const QString &text);

    std::deque<Answer> queue_;
    QList<Shown> log_;
    QStringList unexpected_;
    bool allowMessages_ = false;
};
