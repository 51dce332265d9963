#include "views/archiveparamselector.h"

#include "base/cp1251.h"
#include "base/savefile.h"
#include "base/textutils.h"
#include "ui/fonts.h"
#include "ui/operatorprompt.h"
#include "ui/toolbaricons.h"
#include "ui/u8.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <limits>

namespace {
qint32 toInt32(const QByteArray &text, qint32 fallback)
{
    bool ok = false;
    const qint64 n = StrToIntDef(text, fallback, &ok);
    if (!ok || n < std::numeric_limits<qint32>::min() || n > std::numeric_limits<qint32>::max())
        return fallback;
    return qint32(n);
}

// The pictures of the three template buttons, on a 16 x 16 grid.
void paintPage(QPainter &p, bool written)
{
    p.setPen(QPen(QColor(64, 64, 64), 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(2.5, 1.5, 9, 13));
    if (written) {
        p.setPen(QPen(QColor(0, 0, 128), 1));
        for (int y = 4; y <= 12; y += 2)
            p.drawLine(QPointF(4, y + 0.5), QPointF(10, y + 0.5));
    }
}

void paintSparkle(QPainter &p)
{
    p.setPen(QPen(QColor(255, 176, 0), 1.4));
    p.drawLine(QPointF(13, 1), QPointF(13, 7));
    p.drawLine(QPointF(10, 4), QPointF(16, 4));
    p.drawLine(QPointF(11, 2), QPointF(15, 6));
    p.drawLine(QPointF(15, 2), QPointF(11, 6));
}

void paintReset(QPainter &p)
{
    paintPage(p, false);
    paintSparkle(p);
}

void paintLoad(QPainter &p)
{
    paintPage(p, true);
    paintSparkle(p);
}

void paintSaveTemplate(QPainter &p)
{
    paintPage(p, true);
    // the floppy disk
    p.setPen(QPen(QColor(0, 0, 96), 1));
    p.setBrush(QColor(40, 70, 160));
    p.drawRect(QRectF(9.5, 8.5, 6, 7));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(11, 9, 3, 2.5));
    // the red arrow into it
    p.setPen(QPen(QColor(200, 0, 0), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(6, 5), QPointF(12.5, 5));
    DrawArrow(p, {12.5, 5}, {12.5, 8}, {11, 6.5}, {14, 6.5});
}
} // namespace

const char *const TArchiveParamSelector::kTemplateFilter = "Файлы шаблонов выборки (*.ash);;Все файлы (*.*)";

// --- template file ------------------------------------------------------------

bool SaveTemplate(const QString &fileName, const TOPVarList *list, qint32 step, qint32 low, qint32 high)
{
    if (!list || fileName.isEmpty())
        return false;
    QByteArray text;
    for (const qint32 n : {step, low, high})
        text += QByteArray::number(n) + "\r\n";
    for (int i = 0; i < list->Count(); ++i)
        text += list->GetItem(i)->Name + "\r\n";
    return SaveFileAtomically(fileName, text);
}

TArchiveTemplate ParseTemplate(const QByteArray &contents, qint32 totalArchSize)
{
    QList<QByteArray> lines = contents.split('\n');
    // The line end of the last line opens no further line.
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray &line : lines)
        line = TrimControls(line);
    auto line = [&lines](int i) { return i < lines.size() ? lines[i] : QByteArray(); };

    TArchiveTemplate t;
    t.Step = toInt32(line(0), 1);
    t.LowRange = toInt32(line(1), 1);
    t.HighRange = toInt32(line(2), totalArchSize);
    for (int i = 3; i < lines.size(); ++i)
        t.Names.append(lines[i]);
    return t;
}

std::optional<TArchiveTemplate> LoadTemplate(const QString &fileName, qint32 totalArchSize)
{
    if (fileName.isEmpty())
        return std::nullopt;
    const QFileInfo info(fileName);
    if (!info.exists() || !info.isFile() || info.size() > kMaxTemplateSize)
        return std::nullopt;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray contents = file.read(kMaxTemplateSize + 1);
    if (contents.size() > kMaxTemplateSize || file.error() != QFileDevice::NoError)
        return std::nullopt;
    return ParseTemplate(contents, totalArchSize);
}

// --- the number fields ----------------------------------------------------------

TSpinEdit::TSpinEdit(QWidget *parent) : QAbstractSpinBox(parent)
{
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    lineEdit()->setText(QStringLiteral("1"));
    connect(lineEdit(), &QLineEdit::textChanged, this, &TSpinEdit::Changed);
    // A typed value is limited once the operator leaves the field (or
    // presses Enter).
    connect(this, &QAbstractSpinBox::editingFinished, this, [this] { SetValue(Value()); });
}

qint32 TSpinEdit::Value() const
{
    return toInt32(ToCp1251(text()), minValue_);
}

qint32 TSpinEdit::CheckValue(qint32 value) const
{
    if (minValue_ == maxValue_)
        return value;
    if (value < minValue_)
        return minValue_;
    if (value > maxValue_)
        return maxValue_;
    return value;
}

void TSpinEdit::SetValue(qint32 value)
{
    const QString text = QString::number(CheckValue(value));
    if (lineEdit()->text() != text)
        lineEdit()->setText(text);
}

void TSpinEdit::stepBy(int steps)
{
    const qint64 next = qint64(Value()) + steps;
    SetValue(qint32(std::clamp<qint64>(next, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max())));
    selectAll();
}

QValidator::State TSpinEdit::validate(QString &input, int &) const
{
    const QString separator = locale().decimalPoint();
    for (const QChar c : input) {
        if (!c.isDigit() && c != u'+' && c != u'-' && !separator.contains(c)) {
            QApplication::beep();
            return QValidator::Invalid;
        }
    }
    return QValidator::Acceptable;
}

QAbstractSpinBox::StepEnabled TSpinEdit::stepEnabled() const
{
    return StepUpEnabled | StepDownEnabled;
}

// --- the grid of variables ----------------------------------------------------------

// Column 0 the variable names, column 1 the marks: " V" or nothing.
class TArchiveMarksModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    void SetNames(const TOPVarList *vars)
    {
        beginResetModel();
        names_.clear();
        for (int i = 0; vars && i < vars->Count(); ++i)
            names_.append(FromCp1251(vars->GetItem(i)->Name));
        marks_ = QList<bool>(names_.size(), false);
        endResetModel();
    }
    int Rows() const { return int(names_.size()); }
    bool Marked(int row) const { return row >= 0 && row < Rows() && marks_[row]; }
    void SetMarked(int row, bool marked)
    {
        if (row < 0 || row >= Rows() || marks_[row] == marked)
            return;
        marks_[row] = marked;
        emit dataChanged(index(row, 1), index(row, 1));
    }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override { return parent.isValid() ? 0 : Rows(); }
    int columnCount(const QModelIndex &parent = QModelIndex()) const override { return parent.isValid() ? 0 : 2; }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid())
            return {};
        if (index.column() == 0)
            return names_.value(index.row());
        return Marked(index.row()) ? QStringLiteral(" V") : QString();
    }
    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

private:
    QStringList names_;
    QList<bool> marks_;
};

// --- the window -------------------------------------------------------------------

TArchiveParamSelector::TArchiveParamSelector(OperatorPrompt &prompt, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      prompt_(prompt)
{
    setObjectName(QStringLiteral("ArchiveParamSelector"));
    setWindowTitle(u8("Параметры архива"));
    setFont(WindowFont());
    setFixedSize(349, 543);

    auto label = [this](QWidget *parent, const char *name, const char *text, QRect geometry) {
        auto *l = new QLabel(u8(text), parent);
        l->setObjectName(QLatin1String(name));
        l->setAlignment(Qt::AlignCenter);
        l->setGeometry(geometry);
        return l;
    };
    Label2 = label(this, "Label2", "Содержание архива", QRect(4, 2, 341, 20));

    marks_ = new TArchiveMarksModel(this);
    VarListGrid = new QTableView(this);
    VarListGrid->setObjectName(QStringLiteral("VarListGrid"));
    VarListGrid->setModel(marks_);
    VarListGrid->setGeometry(4, 26, 341, 293);
    VarListGrid->horizontalHeader()->hide();
    VarListGrid->verticalHeader()->hide();
    VarListGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    VarListGrid->verticalHeader()->setMinimumSectionSize(1);
    VarListGrid->verticalHeader()->setDefaultSectionSize(kRowHeight);
    VarListGrid->horizontalHeader()->setMinimumSectionSize(1);
    VarListGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    VarListGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    VarListGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    VarListGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    VarListGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    VarListGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    VarListGrid->setWordWrap(false);
    VarListGrid->setMouseTracking(true);
    VarListGrid->viewport()->installEventFilter(this);
    VarListGrid->installEventFilter(this);
    connect(VarListGrid, &QAbstractItemView::pressed, this, [this] {
        if (VarListGrid->currentIndex().column() == 1)
            ToggleCurrent();
        ShowReference(CurrentRow());
    });
    connect(VarListGrid, &QAbstractItemView::doubleClicked, this, [this] {
        if (VarListGrid->currentIndex().column() == 0)
            ToggleCurrent();
        ShowReference(CurrentRow());
    });

    VarRefPanel = new QLabel(this);
    VarRefPanel->setObjectName(QStringLiteral("VarRefPanel"));
    VarRefPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    VarRefPanel->setTextFormat(Qt::PlainText);
    VarRefPanel->setGeometry(4, 322, 341, 22);
    QPalette navy = VarRefPanel->palette();
    navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
    VarRefPanel->setPalette(navy);

    OptionsGB = new QGroupBox(u8(" Настройки выборки "), this);
    OptionsGB->setObjectName(QStringLiteral("OptionsGB"));
    OptionsGB->setGeometry(4, 354, 341, 79);
    auto spin = [this](const char *name, QRect geometry) {
        auto *edit = new TSpinEdit(OptionsGB);
        edit->setObjectName(QLatin1String(name));
        edit->setGeometry(geometry);
        return edit;
    };
    Label1 = label(OptionsGB, "Label1", "Шаг выборки записей из архива", QRect(4, 17, 237, 22));
    StepEdit = spin("StepEdit", QRect(262, 17, 69, 22));
    Label3 = label(OptionsGB, "Label3", "Выбирать записи с ", QRect(6, 47, 127, 22));
    FromNumEdit = spin("FromNumEdit", QRect(138, 47, 69, 22));
    Label4 = label(OptionsGB, "Label4", "по", QRect(224, 47, 33, 22));
    ToNumEdit = spin("ToNumEdit", QRect(262, 47, 69, 22));
    connect(StepEdit, &TSpinEdit::Changed, this, &TArchiveParamSelector::StepEditChange);
    connect(FromNumEdit, &TSpinEdit::Changed, this, &TArchiveParamSelector::FromNumEditChange);
    connect(ToNumEdit, &TSpinEdit::Changed, this, &TArchiveParamSelector::ToNumEditChange);

    auto button = [this](const char *name, const char *text, QRect geometry) {
        auto *b = new QPushButton(u8(text), this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(geometry);
        b->setAutoDefault(false);
        return b;
    };
    BitBtn3 = button("BitBtn3", "Сбросить", QRect(8, 448, 97, 25));
    BitBtn3->setIcon(PaintedIcon(paintReset));
    BitBtn1 = button("BitBtn1", "Загрузить", QRect(124, 448, 99, 25));
    BitBtn1->setIcon(PaintedIcon(paintLoad));
    BitBtn2 = button("BitBtn2", "Сохранить", QRect(242, 448, 99, 25));
    BitBtn2->setIcon(PaintedIcon(paintSaveTemplate));
    connect(BitBtn3, &QPushButton::clicked, this, &TArchiveParamSelector::BitBtn3Click);
    connect(BitBtn1, &QPushButton::clicked, this, &TArchiveParamSelector::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TArchiveParamSelector::BitBtn2Click);

    auto *bevel = new QFrame(this);
    bevel->setObjectName(QStringLiteral("Bevel1"));
    bevel->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    bevel->setGeometry(4, 486, 341, 5);

    OKBtn = button("OKBtn", "OK", QRect(48, 506, 99, 25));
    OKBtn->setDefault(true);
    CancelBtn = button("CancelBtn", "Отменить", QRect(202, 506, 99, 25));
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    setTabOrder(OKBtn, CancelBtn);
    setTabOrder(CancelBtn, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
    setTabOrder(BitBtn2, BitBtn3);
    setTabOrder(BitBtn3, VarListGrid);
    setTabOrder(VarListGrid, StepEdit);
    setTabOrder(StepEdit, FromNumEdit);
    setTabOrder(FromNumEdit, ToNumEdit);

    FormCreate();
}

TArchiveParamSelector::~TArchiveParamSelector() = default;

void TArchiveParamSelector::FormCreate()
{
    for (TSpinEdit *edit : {StepEdit, FromNumEdit, ToNumEdit}) {
        edit->SetMinValue(1);
        edit->SetMaxValue(1);
    }
    SetStep(1);
    SetLowRange(1);
    SetHighRange(1);
    SetTotalArchSize(0);
    SizeGridColumns();
}

void TArchiveParamSelector::SizeGridColumns()
{
    // The mark column as wide as a row is high; the names take the rest, and
    // give the scroll bar room when they need it.
    const bool scrolls = marks_->Rows() * kRowHeight > VarListGrid->height();
    const int scrollBar = scrolls ? VarListGrid->verticalScrollBar()->sizeHint().width() : 0;
    VarListGrid->horizontalHeader()->resizeSection(1, kRowHeight);
    VarListGrid->horizontalHeader()->resizeSection(
        0, VarListGrid->width() - 2 * VarListGrid->frameWidth() - kRowHeight - 2 - scrollBar);
}

void TArchiveParamSelector::AssignVarLists(const TOPVarList *vars, const TOPVarList *descriptions,
                                           const TOPVarList *defaultMask)
{
    varList_ = vars ? vars->Clone() : nullptr;
    refList_ = descriptions ? descriptions->Clone() : nullptr;
    defaultMaskVarList_ = defaultMask ? defaultMask->Clone() : nullptr;
    resultVarList_ = vars ? vars->Clone() : nullptr;
    marks_->SetNames(varList_.get());
    SizeGridColumns();
    ApplyMask(defaultMaskVarList_.get());
}

bool TArchiveParamSelector::Execute()
{
    if (prompt_.Exec(*this) != QDialog::Accepted)
        return false;
    resultVarList_ = MarkedVars();
    return true;
}

std::unique_ptr<TOPVarList> TArchiveParamSelector::MarkedVars() const
{
    auto list = std::make_unique<TOPVarList>();
    for (int row = 0; varList_ && row < marks_->Rows(); ++row) {
        if (!IsChecked(row))
            continue;
        if (const TOPVarListItem *item = varList_->GetItem(row))
            list->Add(item->Name, item->Index, item->Value);
    }
    return list;
}

// --- properties ---------------------------------------------------------------------

void TArchiveParamSelector::SetStep(qint32 value)
{
    step_ = value <= 0 ? 1 : value;
    StepEdit->SetValue(step_);
    // The property is what the field shows, also when the limited value
    // leaves the field's text as it was.
    StepEditChange();
}

void TArchiveParamSelector::SetLowRange(qint32 value)
{
    FromNumEdit->SetValue(value <= 0 ? 1 : value);
    FromNumEditChange();
}

void TArchiveParamSelector::SetHighRange(qint32 value)
{
    ToNumEdit->SetValue(value <= 0 ? 1 : value);
    ToNumEditChange();
}

void TArchiveParamSelector::SetTotalArchSize(qint32 value)
{
    if (value < 0)
        value = 0;
    if (value == totalArchSize_)
        return;
    totalArchSize_ = value;
    for (TSpinEdit *edit : {StepEdit, FromNumEdit, ToNumEdit})
        edit->SetMaxValue(value);
    SetLowRange(1);
    SetHighRange(value);
    OptionsGB->setTitle(u8(" Настройки выборки  (архив содержит ") + QString::number(value) + u8(" ") +
                        CountNoun(value, "запись)", "записи)", "записей)") + u8(" "));
}

void TArchiveParamSelector::StepEditChange()
{
    step_ = StepEdit->Value();
}

void TArchiveParamSelector::FromNumEditChange()
{
    lowRange_ = FromNumEdit->Value();
}

void TArchiveParamSelector::ToNumEditChange()
{
    highRange_ = ToNumEdit->Value();
}

// --- marks ----------------------------------------------------------------------------

void TArchiveParamSelector::ApplyMask(const TOPVarList *mask)
{
    QList<QByteArray> names;
    for (int i = 0; mask && i < mask->Count(); ++i)
        names.append(mask->GetItem(i)->Name);
    ApplyMask(names);
}

void TArchiveParamSelector::ApplyMask(const QList<QByteArray> &names)
{
    for (int row = 0; row < marks_->Rows(); ++row)
        SetChecked(row, false);
    if (!varList_)
        return;
    for (const QByteArray &name : names)
        SetChecked(varList_->IndexOfName(name), true);
}

void TArchiveParamSelector::SetChecked(int row, bool checked)
{
    marks_->SetMarked(row, checked);
}

bool TArchiveParamSelector::IsChecked(int row) const
{
    return marks_->Marked(row);
}

int TArchiveParamSelector::CurrentRow() const
{
    const QModelIndex current = VarListGrid->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void TArchiveParamSelector::ToggleCurrent()
{
    const int row = CurrentRow();
    SetChecked(row, !IsChecked(row));
}

void TArchiveParamSelector::ShowReference(int row)
{
    const TOPVarListItem *item = refList_ && row >= 0 ? refList_->GetItem(row) : nullptr;
    VarRefPanel->setText(item ? FromCp1251(item->Name) : QString());
}

// --- buttons --------------------------------------------------------------------------

void TArchiveParamSelector::BitBtn3Click()
{
    ApplyMask(defaultMaskVarList_.get());
    SetStep(1);
    SetLowRange(1);
    SetHighRange(totalArchSize_);
}

void TArchiveParamSelector::BitBtn1Click()
{
    const QString fileName = prompt_.OpenFileName(u8(kTemplateFilter), QStringLiteral("ash"));
    if (fileName.isEmpty())
        return;
    const std::optional<TArchiveTemplate> t = LoadTemplate(fileName, totalArchSize_);
    if (!t)
        return;
    ApplyMask(t->Names);
    SetStep(t->Step);
    SetLowRange(t->LowRange);
    SetHighRange(t->HighRange);
}

void TArchiveParamSelector::BitBtn2Click()
{
    const QString fileName = prompt_.SaveFileName(u8(kTemplateFilter), QStringLiteral("ash"));
    if (fileName.isEmpty())
        return;
    const std::unique_ptr<TOPVarList> marked = MarkedVars();
    SaveTemplate(fileName, marked.get(), step_, lowRange_, highRange_);
}

// --- the operator in the grid -----------------------------------------------------------

void TArchiveParamSelector::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    VarListGrid->setFocus();
}

bool TArchiveParamSelector::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == VarListGrid->viewport() && event->type() == QEvent::MouseMove) {
        VarListGridMouseMove(static_cast<QMouseEvent *>(event)->position().toPoint());
    } else if (watched == VarListGrid && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Space) {
            if (!(key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)))
                ToggleCurrent();
            return true;
        }
    } else if (watched == VarListGrid && event->type() == QEvent::KeyRelease) {
        ShowReference(CurrentRow());
    }
    return QDialog::eventFilter(watched, event);
}

void TArchiveParamSelector::VarListGridMouseMove(const QPoint &pos)
{
    const int row = VarListGrid->rowAt(pos.y());
    if (row >= 0 && row != CurrentRow())
        VarListGrid->setCurrentIndex(marks_->index(row, 0));
    ShowReference(CurrentRow());
}
