// The controls of the three settings sub-pages of the main window and their
// binding to the installation's variable lists: the display routines and the
// one change handler. The rules themselves are in settingsbinding.h.
//
// Change events. The handlers run when the program sets a value as well as
// when the operator does, so that an edit can be put back at once in the
// test mode (setting a control to the value it already has raises nothing,
// which ends that chain):
//   edits           QLineEdit::textChanged (typing and setText alike)
//   date, time      QDateEdit::dateChanged, QTimeEdit::timeChanged
//   lamp buttons    QRadioButton::toggled, only when one becomes checked
//   radio groups    TRadioGroup::Click (an item became selected)
//   push buttons    clicked
// The exchange state keeps this from writing back: while a read fills the
// controls (state 1) the handler ignores every event; while a write shows
// its result (state 2) the events store the shown values into the same items
// and any write they ask for is dropped because the state is not idle.
// The controls that write "Общее" at once do nothing until that sub-page has
// been read: the lists would send blanks for everything else in the group.
// They then go back to what they showed, and the terminal page says why.

#include "app/mainform.h"

#include "app/clocktext.h"
#include "app/displaytexts.h"
#include "app/settingsbinding.h"
#include "base/cp1251.h"
#include "instrument/ormak.h"
#include "ui/radiogroup.h"
#include "ui/toolbaricons.h"
#include "ui/u8.h"

#include <QDateEdit>
#include <QDateTime>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <array>

namespace {
template <class T>
T *named(T *widget, const char *name, const QRect &geometry)
{
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

QLabel *label(QWidget *parent, const char *name, const char *text, const QRect &geometry,
              Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter)
{
    auto *l = named(new QLabel(u8(text), parent), name, geometry);
    l->setAlignment(alignment);
    return l;
}

// A panel: a sunken box with its text in the middle and a colour of its own.
QLabel *panel(QWidget *parent, const char *name, const QRect &geometry, const QColor &colour = QColor(),
              const char *text = "")
{
    auto *p = named(new QLabel(u8(text), parent), name, geometry);
    p->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    p->setAlignment(Qt::AlignCenter);
    if (colour.isValid()) {
        p->setAutoFillBackground(true);
        QPalette palette = p->palette();
        palette.setColor(QPalette::Window, colour);
        p->setPalette(palette);
    }
    return p;
}

void setPanelColour(QLabel *panel, const TRgb &rgb)
{
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, QColor(rgb.Red, rgb.Green, rgb.Blue));
    panel->setPalette(palette);
    panel->setAutoFillBackground(true);
}

// Bold yellow text on grey: the mode panel and the measured activity.
void makeReadout(QLabel *panel)
{
    QFont bold = panel->font();
    bold.setBold(true);
    panel->setFont(bold);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 255, 0));
    panel->setPalette(palette);
}

QGroupBox *group(QWidget *parent, const char *name, const char *title, const QRect &geometry)
{
    return named(new QGroupBox(u8(title), parent), name, geometry);
}

QLineEdit *edit(QWidget *parent, const char *name, const QRect &geometry)
{
    return named(new QLineEdit(parent), name, geometry);
}

// --- the glyphs of the three bitmap buttons -----------------------------------

// A loudspeaker horn with sound waves.
void paintSiren(QPainter &p)
{
    p.setPen(QPen(QColor(64, 0, 0), 1));
    p.setBrush(QColor(220, 40, 40));
    DrawOutline(p, {{1.5, 6}, {4.5, 6}, {9, 2}, {9, 14}, {4.5, 10}, {1.5, 10}}); // horn
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(64, 64, 64), 1.2, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(7, 5, 5, 6), -60 * 16, 120 * 16);
    p.drawArc(QRectF(7, 2.5, 8, 11), -60 * 16, 120 * 16);
}

// A clock face with a turning arrow.
void paintSynchro(QPainter &p)
{
    p.setPen(QPen(QColor(0, 0, 128), 1));
    p.setBrush(QColor(255, 255, 255));
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setPen(QPen(QColor(0, 0, 0), 1.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 8), QPointF(8, 4));
    p.drawLine(QPointF(8, 8), QPointF(11, 9.5));
    p.setPen(QPen(QColor(0, 128, 0), 1.4, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(3.5, 3.5, 9, 9), 200 * 16, 90 * 16);
}

// A value moved across by an arrow.
void paintCopy(QPainter &p)
{
    p.setPen(QPen(QColor(0, 0, 128), 1));
    p.setBrush(QColor(200, 220, 255));
    p.drawRect(QRectF(1.5, 4.5, 6, 7));
    p.setPen(QPen(QColor(0, 128, 0), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    DrawArrow(p, {8.5, 8}, {14.5, 8}, {12, 5.5}, {12, 10.5});
}

QString text(const QByteArray &cp1251)
{
    return FromCp1251(cp1251);
}
} // namespace

// --- controls --------------------------------------------------------------------

void TMainForm::CreateSettingsPages()
{
    CreateCommonPage();
    CreateCounterPage();
    CreateServicePage();
    ConnectSettingsControls();
}

void TMainForm::CreateCommonPage()
{
    QWidget *page = TabSheet3;
    Label1 = label(page, "Label1", "Серийный номер установки :", {8, 0, 171, 27});
    NumPanel = panel(page, "NumPanel", {182, 0, 89, 27});
    Label16 = label(page, "Label16", "Наработка (час) :", {280, 0, 113, 27});
    ResourcePanel = panel(page, "ResourcePanel", {400, 0, 67, 27});

    GroupBox1 = group(page, "GroupBox1", " Блок Аварийной Сигнализации ", {0, 30, 485, 87});
    RedPanel = panel(GroupBox1, "RedPanel", {276, 16, 185, 19});
    BASIndRB1 = named(new QRadioButton(u8("Красный"), GroupBox1), "BASIndRB1", {178, 18, 93, 17});
    SireneBtn = named(new QPushButton(GroupBox1), "SireneBtn", {36, 22, 45, 27});
    SireneBtn->setIcon(PaintedIcon(paintSiren));
    SireneBtn->setToolTip(u8("Включить/выключить сирену"));
    YellowPanel = panel(GroupBox1, "YellowPanel", {276, 36, 185, 19});
    BASIndRB2 = named(new QRadioButton(u8("Желтый"), GroupBox1), "BASIndRB2", {178, 38, 95, 17});
    SireneOnOffPanel = panel(GroupBox1, "SireneOnOffPanel", {24, 56, 70, 21});
    GreenPanel = panel(GroupBox1, "GreenPanel", {276, 56, 185, 19});
    BASIndRB3 = named(new QRadioButton(u8("Зеленый"), GroupBox1), "BASIndRB3", {178, 58, 93, 17});
    for (QLabel *lamp : {RedPanel, YellowPanel, GreenPanel})
        lamp->setFrameStyle(QFrame::Panel | QFrame::Raised);
    // Dark lamps and a switched-off siren until the first read.
    const std::array<TRgb, 3> dark = {TRgb{128, 0, 0}, TRgb{128, 128, 0}, TRgb{0, 128, 0}};
    setPanelColour(RedPanel, dark[0]);
    setPanelColour(YellowPanel, dark[1]);
    setPanelColour(GreenPanel, dark[2]);
    ShowOnOffState(osOff, SireneOnOffPanel);

    GroupBox2 = group(page, "GroupBox2", " \"Сухие контакты\" ", {0, 120, 485, 73});
    DryContactIN = new TRadioGroup(u8(" Вход "), {u8("Вкл"), u8("Выкл")}, 2, GroupBox2);
    named(DryContactIN, "DryContactIN", {16, 16, 137, 47});
    DryContactOUT = new TRadioGroup(u8(" Выход "), {u8("Вкл"), u8("Выкл")}, 2, GroupBox2);
    named(DryContactOUT, "DryContactOUT", {162, 16, 137, 47});
    GroupBox6 = group(GroupBox2, "GroupBox6", " Пороговая уставка ", {308, 16, 161, 47});
    DCLevelEdit = edit(GroupBox6, "DCLevelEdit", {10, 16, 141, 21});

    GroupBox7 = group(page, "GroupBox7", " Дата и Время ", {0, 196, 485, 49});
    Label47 = label(GroupBox7, "Label47", "Дата", {8, 18, 47, 21});
    DevDate = named(new QDateEdit(GroupBox7), "DevDate", {56, 18, 135, 21});
    DevDate->setDisplayFormat(DevDateFormat(QLocale::system()));
    // The user's date order, with the month names in Russian like every
    // other text of the window.
    DevDate->setLocale(QLocale(QLocale::Russian, QLocale::Russia));
    DevDate->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    Label48 = label(GroupBox7, "Label48", "Время", {192, 18, 65, 21});
    DevTime = named(new QTimeEdit(GroupBox7), "DevTime", {258, 18, 77, 21});
    // The installation's clock runs on 24 hours.
    DevTime->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    SynchroBtn = named(new QPushButton(PaintedIcon(paintSynchro), u8("Синхронизация"), GroupBox7), "SynchroBtn",
                       {352, 18, 121, 21});
    SynchroBtn->setToolTip(u8("Синхронизировать часы и календать прибора с компьютером"));

    GroupBox11 = group(page, "GroupBox11", " Режим работы с КВАРН-Т ", {0, 248, 485, 45});
    CommonModePanel = panel(GroupBox11, "CommonModePanel", {16, 16, 453, 21}, QColor(128, 128, 128));
    makeReadout(CommonModePanel);
}

void TMainForm::CreateCounterPage()
{
    QWidget *page = TabSheet4;
    GroupBox3 = group(page, "GroupBox3", " Счетчик ", {4, 2, 481, 59});
    Label2 = label(GroupBox3, "Label2", "Чувствительность", {52, 22, 135, 21});
    Edit11 = edit(GroupBox3, "Edit11", {278, 22, 89, 21});

    GroupBox5 = group(page, "GroupBox5", " Состояние ", {4, 74, 481, 115});
    const char *const stateLabels[][2] = {{"Label8", "Состояние индикатора расхода"},
                                          {"Label9", "Идет прокачка"},
                                          {"Label10", "Состояние электрометра"},
                                          {"Label3", "Состояние силикагелевого патрона"}};
    QLabel **statePanels[] = {&StatusPanel1, &StatusPanel2, &StatusPanel3, &StatusPanel4};
    QLabel **stateTexts[] = {&Label8, &Label9, &Label10, &Label3};
    for (int i = 0; i < 4; ++i) {
        const int top = 18 + 22 * i;
        const QByteArray name = "StatusPanel" + QByteArray::number(i + 1);
        *statePanels[i] = panel(GroupBox5, name.constData(), {14, top, 131, 21});
        ShowStatusState(ssSound, *statePanels[i]);
        *stateTexts[i] = label(GroupBox5, stateLabels[i][0], stateLabels[i][1], {184, top, 291, 21});
    }

    GroupBox12 = group(page, "GroupBox12", " Пороговые уставки ", {4, 200, 481, 51});
    Label4 = label(GroupBox12, "Label4", "1 :", {4, 20, 31, 21}, Qt::AlignRight | Qt::AlignVCenter);
    Alarm1On1 = panel(GroupBox12, "Alarm1On1", {50, 20, 70, 21});
    Edit13 = edit(GroupBox12, "Edit13", {144, 20, 89, 21});
    Label7 = label(GroupBox12, "Label7", "2 :", {246, 20, 31, 21}, Qt::AlignRight | Qt::AlignVCenter);
    Alarm2On1 = panel(GroupBox12, "Alarm2On1", {292, 20, 70, 21});
    Edit16 = edit(GroupBox12, "Edit16", {386, 20, 89, 21});
    ShowOnOffState(osOff, Alarm1On1);
    ShowOnOffState(osOff, Alarm2On1);

    Label18 = label(page, "Label18", "Объемная  ", {6, 262, 127, 12});
    ValuePanel1 = panel(page, "ValuePanel1", {140, 264, 121, 27}, QColor(128, 128, 128));
    makeReadout(ValuePanel1);
    Label15 = label(page, "Label15", "Время измерения :", {268, 266, 121, 23});
    Edit1DT = edit(page, "Edit1DT", {390, 268, 89, 21});
    Label11 = label(page, "Label11", "активность (Бк/кб.м) :", {6, 278, 127, 12});
    // The time of the last poll the installation answered in the test mode.
    PollTimePanel = label(page, "PollTimePanel", "", {140, 292, 121, 13}, Qt::AlignCenter);
}

void TMainForm::CreateServicePage()
{
    QWidget *page = TabSheet5;
    const struct {
        QLabel **label;
        const char *labelName, *caption;
        QLineEdit **edit;
        const char *editName;
        int top;
    } rows[] = {
        {&Label17, "Label17", "Собственный фон установки", &SelfFonEdit, "SelfFonEdit", 24},
        {&Label5, "Label5", "Рабочий ток", &MngEdit1, "MngEdit1", 68},
        {&Label6, "Label6", "Рабочее напряжение", &MngEdit2, "MngEdit2", 100},
        {&Label12, "Label12", "Напряжение смещения", &MngEdit3, "MngEdit3", 132},
        {&Label13, "Label13", "Ток смещения", &MngEdit4, "MngEdit4", 164},
        {&Label14, "Label14", "Температура", &MngEdit5, "MngEdit5", 196},
    };
    for (const auto &row : rows) {
        *row.label = label(page, row.labelName, row.caption, {4, row.top, 189, 21});
        *row.edit = edit(page, row.editName, {196, row.top, 141, 21});
    }
    CopyToSelfFonBtn = named(new QPushButton(PaintedIcon(paintCopy), u8("Из измеренного.."), page), "CopyToSelfFonBtn",
                             {352, 24, 129, 21});
}

void TMainForm::ConnectSettingsControls()
{
    for (QLineEdit *e : {DCLevelEdit, Edit11, Edit13, Edit16, Edit1DT, SelfFonEdit, MngEdit1, MngEdit2, MngEdit3,
                         MngEdit4, MngEdit5})
        connect(e, &QLineEdit::textChanged, this, [this, e] { AnyDataChanged(e); });
    connect(DevDate, &QDateEdit::dateChanged, this, [this] { AnyDataChanged(DevDate); });
    connect(DevTime, &QTimeEdit::timeChanged, this, [this] { AnyDataChanged(DevTime); });
    for (QRadioButton *b : {BASIndRB1, BASIndRB2, BASIndRB3})
        connect(b, &QRadioButton::toggled, this, [this, b](bool checked) {
            if (checked)
                AnyDataChanged(b);
        });
    for (TRadioGroup *g : {DryContactIN, DryContactOUT})
        connect(g, &TRadioGroup::Click, this, [this, g] { AnyDataChanged(g); });
    for (QPushButton *b : {SireneBtn, SynchroBtn, CopyToSelfFonBtn})
        connect(b, &QPushButton::clicked, this, [this, b] { AnyDataChanged(b); });
}

// --- display ---------------------------------------------------------------------

void TMainForm::ShowOnOffState(int state, QLabel *panel)
{
    if (!panel)
        return;
    setPanelColour(panel, OnOffColour(state));
    panel->setText(u8(kOnOffTexts[state == osOn ? 1 : 0]));
}

void TMainForm::ShowStatusState(int state, QLabel *panel)
{
    if (!panel || state < ssSound || state > ssStopped)
        return;
    setPanelColour(panel, StatusColour(state));
    panel->setText(u8(kStateTexts[state]));
}

void TMainForm::ShowLampState(int state)
{
    const std::array<TRgb, 3> colours = LampColours(state);
    setPanelColour(RedPanel, colours[0]);
    setPanelColour(YellowPanel, colours[1]);
    setPanelColour(GreenPanel, colours[2]);
    shownLampButton_ = LampRadioButton(state);
    QRadioButton *button = std::array{BASIndRB1, BASIndRB2, BASIndRB3}[shownLampButton_];
    if (!button->isChecked())
        button->setChecked(true);
}

void TMainForm::RestoreCommonWriteControls()
{
    // Nothing here may raise a change event: that would come back as
    // another click to put back.
    const std::array<QRadioButton *, 3> lamps = {BASIndRB1, BASIndRB2, BASIndRB3};
    for (int i = 0; i < 3; ++i) {
        QRadioButton *button = lamps[size_t(i)];
        const QSignalBlocker block(button);
        // Exclusive buttons cannot be unchecked one by one; none may be
        // checked yet before the first display.
        button->setAutoExclusive(false);
        button->setChecked(i == shownLampButton_);
        button->setAutoExclusive(true);
    }
    const QSignalBlocker block(DryContactOUT);
    DryContactOUT->SetItemIndex(shownDryContactOut_);
}

void TMainForm::ShowCommonParams()
{
    const std::optional<TCommonDisplay> d = CommonDisplay(Device.get());
    if (!d)
        return;
    NumPanel->setText(text(d->SerialNumber));
    DryContactIN->SetItemIndex(d->DryContactIn);
    shownDryContactOut_ = d->DryContactOut;
    DryContactOUT->SetItemIndex(d->DryContactOut);
    ShowOnOffState(d->Siren, SireneOnOffPanel);
    ShowLampState(d->Lamp);
    DCLevelEdit->setText(text(d->Threshold));
    ResourcePanel->setText(text(d->Resource));
    // A date the picker cannot hold counts as no date: the picker would show
    // another one and store that back.
    const std::optional<QDate> date = d->DateTime.Date;
    if (!date || *date < DevDate->minimumDate() || *date > DevDate->maximumDate())
        return;
    DevDate->setDate(*date);
    if (d->DateTime.Time)
        DevTime->setTime(*d->DateTime.Time);
}

void TMainForm::ShowCounterParams()
{
    const std::optional<TCounterDisplay> d = CounterDisplay(Device.get());
    if (!d)
        return;
    Edit11->setText(text(d->Koefficient));
    Edit13->setText(text(d->Alarm1));
    Edit16->setText(text(d->Alarm2));
    ShowOnOffState(d->Alarm1On, Alarm1On1);
    ShowOnOffState(d->Alarm2On, Alarm2On1);
    const std::array<QLabel *, 4> panels = {StatusPanel1, StatusPanel2, StatusPanel3, StatusPanel4};
    for (int i = 0; i < 4; ++i)
        ShowStatusState(d->Status[i], panels[i]);
    ValuePanel1->setText(text(d->Activity));
    Edit1DT->setText(text(d->DurationTime));
}

void TMainForm::ShowServiceParams()
{
    const std::optional<TServiceDisplay> d = ServiceDisplay(Device.get());
    if (!d)
        return;
    const std::array<QLineEdit *, 6> edits = {SelfFonEdit, MngEdit1, MngEdit2, MngEdit3, MngEdit4, MngEdit5};
    for (int i = 0; i < 6; ++i)
        edits[i]->setText(text(d->Values[i]));
}

// --- the change handler ----------------------------------------------------------

void TMainForm::AnyDataChanged(QObject *sender)
{
    if (!sender || ExchangeState == esReading)
        return;
    if (TestMode) {
        ShowCommonParams();
        ShowCounterParams();
        ShowServiceParams();
        return;
    }
    if (!Device)
        return;

    const QString name = sender->objectName();
    // The siren, the lamps, the output contact and the clock write the
    // whole group at once: not before the installation's values are known.
    static const QStringList writeAtOnce = {"SireneBtn", "BASIndRB1", "BASIndRB2", "BASIndRB3", "DryContactOUT",
                                            "SynchroBtn"};
    if (!readGroups_.IsRead(sgCommon) && writeAtOnce.contains(name)) {
        RestoreCommonWriteControls();
        const bool synchronisation = name == QLatin1String("SynchroBtn");
        LogTerminalLine(DroppedWriteLine(cmdWriteDevice, synchronisation));
        return;
    }
    TControlInput input;
    if (const auto *e = qobject_cast<const QLineEdit *>(sender))
        input.Text = ToCp1251(e->text());
    input.FirstItemSelected = DryContactOUT->ItemIndex() == 0;
    if (name == QLatin1String("SynchroBtn")) {
        const QDateTime now = QDateTime::currentDateTime();
        DevDate->setDate(now.date());
        DevTime->setTime(now.time());
    }
    input.Date = DevDate->date();
    input.Time = DevTime->time();

    const TEditResult result = ApplySettingsEdit(*Device, name.toLatin1(), input);
    if (result.SelfBackgroundText)
        SelfFonEdit->setText(text(*result.SelfBackgroundText));
    if (result.Write)
        ExecuteCommand(*result.Write);
    if (result.ShowCommon)
        ShowCommonParams();
    if (result.ShowService)
        ShowServiceParams();
}
