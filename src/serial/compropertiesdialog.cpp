#include "serial/compropertiesdialog.h"

#include "base/cp1251.h"
#include "serial/comproperties.h"
#include "ui/operatorprompt.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSerialPortInfo>

namespace {

void SetBoxText(QComboBox *box, const QByteArray &text)
{
    box->setEditText(FromCp1251(text));
}

// A box whose text still shows the setting keeps the setting's bytes, so
// that bytes with no Unicode form survive an OK.
void TakeBoxText(const QComboBox *box, QByteArray &setting)
{
    const QString shown = box->currentText();
    if (shown != FromCp1251(setting))
        setting = ToCp1251(shown);
}

} // namespace

TComPropertiesDialog::TComPropertiesDialog(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("ComPropertiesDialog"));
    setWindowTitle(QString::fromUtf8("Параметры внешнего канала"));
    QFont f(QStringLiteral("Sans Serif"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(10);
    setFont(f);
    setFixedSize(260, 225);

    auto label = [this](const char *text, int x, int y) {
        auto *l = new QLabel(QString::fromUtf8(text), this);
        l->move(x, y);
        l->adjustSize();
    };
    label("Номер COM порта", 7, 7);
    label("Скорость обмена", 143, 7);
    label("Кол-во стоп-битов", 7, 52);
    label("Четность", 143, 52);
    label("Время допустимой задержки на приеме", 7, 94);
    label("Бит DTR", 7, 140);
    label("Бит RTS", 143, 140);

    QList<QByteArray> ports;
    for (const QString &name : PortNames())
        ports.append(ToCp1251(name));
    PortNumCBox = AddBox("PortNumCBox", ports, 7, 20, 111);
    SpeedCBox = AddBox("SpeedCBox", TComSettings::TransferRateItems(), 143, 20, 111);

    btOK = new QPushButton(QStringLiteral("OK"), this);
    btOK->setObjectName(QStringLiteral("btOK"));
    btOK->setGeometry(7, 192, 82, 27);
    btOK->setDefault(true);
    connect(btOK, &QPushButton::clicked, this, &QDialog::accept);

    btCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btCancel->setObjectName(QStringLiteral("btCancel"));
    btCancel->setGeometry(107, 192, 147, 27);
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject); // Esc rejects too

    StopBitCBox = AddBox("StopBitCBox", TComSettings::StopBitsItems(), 7, 65, 111);
    ParitetCBox = AddBox("ParitetCBox", TComSettings::ParitetItems(), 143, 65, 111);
    PeriodCBox = AddBox("PeriodCBox", TComSettings::LatencyPeriodItems(), 7, 107, 247);
    DTRcontrolCBox = AddBox("DTRcontrolCBox", TComSettings::LineControlItems(), 7, 153, 111);
    RTScontrolCBox = AddBox("RTScontrolCBox", TComSettings::LineControlItems(), 143, 153, 111);

    QWidget *order[] = {PortNumCBox, SpeedCBox,   btOK,           btCancel,      StopBitCBox,
                        ParitetCBox, PeriodCBox, DTRcontrolCBox, RTScontrolCBox};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    SettingsFileLabel = new QLabel(this);
    SettingsFileLabel->setObjectName(QStringLiteral("SettingsFileLabel"));
    // In the free row between the line controls and the buttons.
    SettingsFileLabel->setGeometry(7, 176, 247, 14);

    LoadFrom(TComSettings());
}

QString TComPropertiesDialog::SettingsFileText(const TComSettingsFile &file)
{
    const QString save = QDir::toNativeSeparators(file.SavePath);
    if (file.ReadPath == file.SavePath || !QFileInfo::exists(file.ReadPath))
        return QString::fromUtf8("Файл настроек: %1").arg(save);
    return QString::fromUtf8("Прочитаны из %1, сохраняются в %2").arg(QDir::toNativeSeparators(file.ReadPath), save);
}

// The row is narrow: it shows the file the settings are saved to, shortened
// in the middle when the path is long; the whole text is the tool tip.
void TComPropertiesDialog::ShowSettingsFile(const TComSettingsFile &file)
{
    const QString shown = QString::fromUtf8("Файл: ") + QDir::toNativeSeparators(file.SavePath);
    SettingsFileLabel->setText(
        SettingsFileLabel->fontMetrics().elidedText(shown, Qt::ElideMiddle, SettingsFileLabel->width()));
    SettingsFileLabel->setToolTip(SettingsFileText(file));
}

QComboBox *TComPropertiesDialog::AddBox(const char *name, const QList<QByteArray> &items, int x, int y, int w)
{
    auto *box = new QComboBox(this);
    box->setObjectName(QString::fromLatin1(name));
    box->setEditable(true);
    // Typed text is the setting as it stands: the box neither adds it to its
    // list nor completes it to a listed item.
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setCompleter(nullptr);
    for (const QByteArray &item : items)
        box->addItem(FromCp1251(item));
    box->setGeometry(x, y, w, 21);
    return box;
}

QStringList TComPropertiesDialog::PortNames()
{
    QStringList names;
    QStringList paths; // what the listed names open, to list each port once
    for (const QByteArray &item : TComSettings::PortItems()) {
        names << QString::fromLatin1(item);
        paths << TComProperties::DevicePath(item);
    }
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
#ifdef Q_OS_WIN
        const QString name = info.portName();
        const QString path = name;
#else
        const QString name = info.systemLocation();
        const QString path = name;
#endif
        if (!name.isEmpty() && !names.contains(name) && !paths.contains(path)) {
            names << name;
            paths << path;
        }
    }
    return names;
}

void TComPropertiesDialog::LoadFrom(const TComSettings &s)
{
    SetBoxText(PortNumCBox, s.PortNumber);
    SetBoxText(SpeedCBox, s.TransferRate);
    SetBoxText(StopBitCBox, s.StopBits);
    SetBoxText(ParitetCBox, s.Paritet);
    SetBoxText(PeriodCBox, s.LatencyPeriod);
    SetBoxText(DTRcontrolCBox, s.DTRControl);
    SetBoxText(RTScontrolCBox, s.RTSControl);
}

void TComPropertiesDialog::StoreTo(TComSettings &s) const
{
    TakeBoxText(PortNumCBox, s.PortNumber);
    TakeBoxText(SpeedCBox, s.TransferRate);
    TakeBoxText(StopBitCBox, s.StopBits);
    TakeBoxText(ParitetCBox, s.Paritet);
    TakeBoxText(PeriodCBox, s.LatencyPeriod);
    TakeBoxText(DTRcontrolCBox, s.DTRControl);
    TakeBoxText(RTScontrolCBox, s.RTSControl);
}

void TComPropertiesDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    btOK->setFocus(Qt::OtherFocusReason);
}

TComPropertiesEditor::TComPropertiesEditor(OperatorPrompt &prompt, QWidget *parent)
    : prompt_(prompt), dialog_(new TComPropertiesDialog(parent))
{
}

TComPropertiesEditor::~TComPropertiesEditor()
{
    delete dialog_.data();
}

bool TComPropertiesEditor::Edit(TComSettings &settings)
{
    if (!dialog_)
        return false; // went with its parent window
    dialog_->LoadFrom(settings);
    if (prompt_.Exec(*dialog_) == QDialog::Accepted) {
        dialog_->StoreTo(settings);
        return true;
    }
    dialog_->LoadFrom(settings);
    return false;
}
