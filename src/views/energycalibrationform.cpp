#include "views/energycalibrationform.h"

#include "ui/fonts.h"
#include "ui/toolbaricons.h"
#include "ui/u8.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>

namespace {
// A decimal integer with an optional sign that fits 32 bits.
bool parseDecimal(const QString &text, qint32 &value)
{
    static const QRegularExpression decimal(QStringLiteral("^[+-]?[0-9]+$"));
    if (!decimal.match(text).hasMatch())
        return false;
    bool ok = false;
    const int parsed = text.toInt(&ok);
    if (ok)
        value = parsed;
    return ok;
}

// The row buttons' glyph: an arrow from the edits towards the points.
void paintToPoint(QPainter &p)
{
    p.setPen(QPen(QColor(0, 96, 0), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(0, 160, 0));
    p.drawLine(QPointF(2, 8), QPointF(9, 8));
    const QPointF head[] = {QPointF(9, 3.5), QPointF(14, 8), QPointF(9, 12.5)};
    p.drawPolygon(head, 3);
}

template <class T>
T *named(T *widget, const char *name, const QRect &geometry)
{
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

QLabel *label(QWidget *parent, const char *name, const char *caption, const QRect &geometry, bool centred)
{
    auto *l = named(new QLabel(u8(caption), parent), name, geometry);
    l->setAlignment((centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter);
    return l;
}

QLabel *sunkenPanel(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *panel = named(new QLabel(QStringLiteral("0"), parent), name, geometry);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setAlignment(Qt::AlignCenter);
    return panel;
}

QLineEdit *edit(QWidget *parent, const char *name, const QRect &geometry)
{
    return named(new QLineEdit(QStringLiteral("0"), parent), name, geometry);
}

QPushButton *glyphButton(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *b = named(new QPushButton(parent), name, geometry);
    b->setIcon(PaintedIcon(paintToPoint));
    b->setAutoDefault(false);
    return b;
}

// Stores the number and shows it as decimal text in its edit or panel.
template <class W>
void setShown(qint32 &number, W *shown, qint32 value)
{
    number = value;
    shown->setText(QString::number(value));
}

// Applies an edit's text to its number, or puts the number back.
void editChanged(QLineEdit *edit, qint32 &number)
{
    const QString text = edit->text();
    if (text.isEmpty()) {
        number = 0;
        return;
    }
    if (!parseDecimal(text, number))
        edit->setText(QString::number(number));
}
} // namespace

TEnergyCalibrationForm::TEnergyCalibrationForm(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("EnergyCalibrationForm"));
    setWindowTitle(u8("Калибровка"));
    setFont(WindowFont());
    setFixedSize(381, 148);

    Label4 = label(this, "Label4", "Канал", QRect(10, 12, 61, 21), true);
    Label3 = label(this, "Label3", "Энергия (кэВ)", QRect(72, 12, 81, 21), true);
    ChannelEdit = edit(this, "ChannelEdit", QRect(10, 44, 61, 21));
    EnergyEdit = edit(this, "EnergyEdit", QRect(80, 44, 61, 21));
    to1Btn = glyphButton(this, "to1Btn", QRect(164, 29, 37, 25));
    to2Btn = glyphButton(this, "to2Btn", QRect(164, 55, 37, 25));
    Label5 = label(this, "Label5", "1", QRect(214, 30, 19, 21), false);
    Label6 = label(this, "Label6", "2", QRect(214, 58, 19, 21), false);
    Label1 = label(this, "Label1", "Канал", QRect(238, 2, 61, 21), true);
    Label2 = label(this, "Label2", "Энергия (кэВ)", QRect(300, 2, 81, 21), true);
    ChannelPanel1 = sunkenPanel(this, "ChannelPanel1", QRect(238, 30, 61, 21));
    ChannelPanel2 = sunkenPanel(this, "ChannelPanel2", QRect(238, 58, 61, 21));
    EnergyPanel1 = sunkenPanel(this, "EnergyPanel1", QRect(308, 30, 61, 21));
    EnergyPanel2 = sunkenPanel(this, "EnergyPanel2", QRect(308, 58, 61, 21));

    Bevel1 = named(new QFrame(this), "Bevel1", QRect(6, 94, 369, 5));
    Bevel1->setFrameStyle(QFrame::HLine | QFrame::Sunken);

    OKBtn = named(new QPushButton(QStringLiteral("OK"), this), "OKBtn", QRect(48, 112, 93, 25));
    OKBtn->setDefault(true);
    CancelBtn = named(new QPushButton(u8("Отменить"), this), "CancelBtn", QRect(238, 112, 97, 25));

    setTabOrder(OKBtn, CancelBtn);
    setTabOrder(CancelBtn, to1Btn);
    setTabOrder(to1Btn, to2Btn);
    setTabOrder(to2Btn, ChannelEdit);
    setTabOrder(ChannelEdit, EnergyEdit);

    connect(ChannelEdit, &QLineEdit::textChanged, this, &TEnergyCalibrationForm::ChannelEditChange);
    connect(EnergyEdit, &QLineEdit::textChanged, this, &TEnergyCalibrationForm::EnergyEditChange);
    connect(to1Btn, &QPushButton::clicked, this, &TEnergyCalibrationForm::to1BtnClick);
    connect(to2Btn, &QPushButton::clicked, this, &TEnergyCalibrationForm::to2BtnClick);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject); // Esc rejects as well
}

void TEnergyCalibrationForm::SetCurChannel(qint32 value) { setShown(CurChannel, ChannelEdit, value); }
void TEnergyCalibrationForm::SetCurEnergy(qint32 value) { setShown(CurEnergy, EnergyEdit, value); }
void TEnergyCalibrationForm::SetChannel1(qint32 value) { setShown(Channel1, ChannelPanel1, value); }
void TEnergyCalibrationForm::SetEnergy1(qint32 value) { setShown(Energy1, EnergyPanel1, value); }
void TEnergyCalibrationForm::SetChannel2(qint32 value) { setShown(Channel2, ChannelPanel2, value); }
void TEnergyCalibrationForm::SetEnergy2(qint32 value) { setShown(Energy2, EnergyPanel2, value); }

void TEnergyCalibrationForm::ChannelEditChange()
{
    editChanged(ChannelEdit, CurChannel);
}

void TEnergyCalibrationForm::EnergyEditChange()
{
    editChanged(EnergyEdit, CurEnergy);
}

void TEnergyCalibrationForm::to1BtnClick()
{
    SetChannel1(CurChannel);
    SetEnergy1(CurEnergy);
}

void TEnergyCalibrationForm::to2BtnClick()
{
    SetChannel2(CurChannel);
    SetEnergy2(CurEnergy);
}

void TEnergyCalibrationForm::showEvent(QShowEvent *event)
{
    if (const QScreen *s = screen())
        move(s->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
    // Every opening starts on the first control of the tab order, so that a
    // key pressed at once goes to OK, not into the channel.
    OKBtn->setFocus(Qt::TabFocusReason);
}
