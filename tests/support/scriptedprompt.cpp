#include "support/scriptedprompt.h"

#include <QDialog>
#include <QTest>

ScriptedPrompt::~ScriptedPrompt() = default;

const char *ScriptedPrompt::KindName(Kind kind)
{
    switch (kind) {
    case Kind::Warning:
        return "warning";
    case Kind::Information:
        return "information";
    case Kind::Error:
        return "error";
    case Kind::Confirm:
        return "confirmation";
    case Kind::Exec:
        return "modal window";
    case Kind::OpenFile:
        return "open file dialog";
    case Kind::SaveFile:
        return "save file dialog";
    }
    return "?";
}

void ScriptedPrompt::ExpectWarning(WhileShown whileShown)
{
    queue_.push_back({Kind::Warning, false, {}, std::move(whileShown), {}});
}

void ScriptedPrompt::ExpectInformation(WhileShown whileShown)
{
    queue_.push_back({Kind::Information, false, {}, std::move(whileShown), {}});
}

void ScriptedPrompt::ExpectError(WhileShown whileShown)
{
    queue_.push_back({Kind::Error, false, {}, std::move(whileShown), {}});
}

void ScriptedPrompt::ExpectConfirm(bool yes, WhileShown whileShown)
{
    queue_.push_back({Kind::Confirm, yes, {}, std::move(whileShown), {}});
}

void ScriptedPrompt::ExpectExec(std::function<int(QDialog &)> operate)
{
    queue_.push_back({Kind::Exec, false, {}, {}, std::move(operate)});
}

void ScriptedPrompt::ExpectOpenFile(const QString &fileName)
{
    queue_.push_back({Kind::OpenFile, false, fileName, {}, {}});
}

void ScriptedPrompt::ExpectSaveFile(const QString &fileName)
{
    queue_.push_back({Kind::SaveFile, false, fileName, {}, {}});
}

QStringList ScriptedPrompt::Messages(Kind kind) const
{
    QStringList texts;
    for (const Shown &s : log_)
        if (s.kind == kind)
            texts << s.text;
    return texts;
}

QStringList ScriptedPrompt::Messages() const
{
    QStringList texts;
    for (const Shown &s : log_)
        if (s.kind == Kind::Warning || s.kind == Kind::Information || s.kind == Kind::Error || s.kind == Kind::Confirm)
            texts << s.text;
    return texts;
}

bool ScriptedPrompt::Take(Kind kind, const QString &text, Answer &answer)
{
    log_.append({kind, text});
    if (!queue_.empty() && queue_.front().kind == kind) {
        answer = std::move(queue_.front());
        queue_.pop_front();
        return true;
    }
    const QString what = queue_.empty()
        ? QStringLiteral("unscripted %1: \"%2\"").arg(QLatin1String(KindName(kind)), text)
        : QStringLiteral("%1 \"%2\" came where a %3 was scripted")
              .arg(QLatin1String(KindName(kind)), text, QLatin1String(KindName(queue_.front().kind)));
    unexpected_ << what;
    QTest::qFail(what.toUtf8().constData(), __FILE__, __LINE__);
    return false;
}

void ScriptedPrompt::Message(Kind kind, const QString &text)
{
    if (allowMessages_ && (queue_.empty() || queue_.front().kind != kind)) {
        log_.append({kind, text});
        return;
    }
    Answer answer;
    if (Take(kind, text, answer) && answer.whileShown)
        answer.whileShown();
}

void ScriptedPrompt::Warning(const QString &text)
{
    Message(Kind::Warning, text);
}

void ScriptedPrompt::Information(const QString &text)
{
    Message(Kind::Information, text);
}

void ScriptedPrompt::Error(const QString &text)
{
    Message(Kind::Error, text);
}

bool ScriptedPrompt::Confirm(const QString &text)
{
    Answer answer;
    if (!Take(Kind::Confirm, text, answer))
        return false;
    if (answer.whileShown)
        answer.whileShown();
    return answer.yes;
}

int ScriptedPrompt::Exec(QDialog &dialog)
{
    const QString name = dialog.objectName().isEmpty() ? dialog.windowTitle() : dialog.objectName();
    Answer answer;
    int result = QDialog::Rejected;
    if (Take(Kind::Exec, name, answer) && answer.operate)
        result = answer.operate(dialog);
    dialog.setResult(result);
    return result;
}

QString ScriptedPrompt::OpenFileName(const QString &filter, const QString & /*defaultSuffix*/)
{
    Answer answer;
    return Take(Kind::OpenFile, filter, answer) ? answer.fileName : QString();
}

QString ScriptedPrompt::SaveFileName(const QString &filter, const QString & /*defaultSuffix*/)
{
    Answer answer;
    return Take(Kind::SaveFile, filter, answer) ? answer.fileName : QString();
}
