#pragma once
// The password entry on the screen: the password window and the
// wrong-password window, shown modally through the operator prompt.

#include "access/passwords.h"

#include <memory>

class OperatorPrompt;
class TEnterPasswordForm;
class TPasswordIsIncorrectForm;

class WidgetPasswordAsker : public PasswordAsker {
public:
    // The prompt is not owned and must outlive this object. The two windows
    // are created here once and kept, hidden, between uses.
    explicit WidgetPasswordAsker(OperatorPrompt &prompt);
    ~WidgetPasswordAsker() override;

    // Empties the field, shows the window; only OK counts as an entry.
    bool AskPassword(QByteArray &typed) override;
    void ReportWrongPassword() override;

    TEnterPasswordForm &EnterPasswordForm() { return *enterPasswordForm_; }
    TPasswordIsIncorrectForm &BadPasswordForm() { return *badPasswordForm_; }

private:
    OperatorPrompt &prompt_;
    std::unique_ptr<TEnterPasswordForm> enterPasswordForm_;
    std::unique_ptr<TPasswordIsIncorrectForm> badPasswordForm_;
};
