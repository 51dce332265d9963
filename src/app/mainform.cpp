#include "app/mainform.h"

TMainForm::TMainForm(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(QString::fromUtf8("КВАРН-Т 1.1"));
}
