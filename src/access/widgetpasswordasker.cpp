#include "access/widgetpasswordasker.h"

#include "access/enterpasswordwindow.h"
#include "access/passwordisincorrectwindow.h"
#include "base/cp1251.h"
#include "ui/operatorprompt.h"

WidgetPasswordAsker::WidgetPasswordAsker(OperatorPrompt &prompt)
    : prompt_(prompt), enterPasswordForm_(std::make_unique<TEnterPasswordForm>()),
      badPasswordForm_(std::make_unique<TPasswordIsIncorrectForm>())
{
}

WidgetPasswordAsker::~WidgetPasswordAsker() = default;

bool WidgetPasswordAsker::AskPassword(QByteArray &typed)
{
    typed.clear();
    enterPasswordForm_->SetPassword(QString());
    if (prompt_.Exec(*enterPasswordForm_) != QDialog::Accepted)
        return false;
    typed = ToCp1251(enterPasswordForm_->Password());
    return true;
}

void WidgetPasswordAsker::ReportWrongPassword()
{
    prompt_.Exec(*badPasswordForm_);
}
