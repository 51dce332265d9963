#pragma once
// The window "Параметры архива": which archive variables to read, and which
// records (every n-th record between a first and a last record number). One
// window is made at start-up and kept hidden between uses, so the choice
// lasts from one archive read to the next. A choice can be saved and loaded
// as a template file (*.ash).
//
// Template file, code page 1251 text, CR LF line ends:
//   line 1   the step
//   line 2   the first record number
//   line 3   the last record number
//   then     the names of the chosen variables, one per line, in grid order

#include "protocol/opvarlist.h"

#include <QAbstractSpinBox>
#include <QDialog>
#include <QList>
#include <memory>
#include <optional>

class OperatorPrompt;
class QGroupBox;
class QLabel;
class QPushButton;
class QTableView;
class TArchiveMarksModel;

// What a template holds.
struct TArchiveTemplate {
    qint32 Step = 1;
    qint32 LowRange = 1;
    qint32 HighRange = 1;
    QList<QByteArray> Names;
};

// Writes the three numbers and the names of the list's items; false when
// there is no list or the file cannot be written (an earlier file then
// stays as it was).
bool SaveTemplate(const QString &fileName, const TOPVarList *list, qint32 step, qint32 low, qint32 high);
// Every line trimmed of blanks and control characters; a step or first
// record that is no whole number reads as 1, a last record as totalArchSize;
// missing lines read as empty. Nothing when the file does not exist or
// cannot be read (or is far larger than any template).
std::optional<TArchiveTemplate> LoadTemplate(const QString &fileName, qint32 totalArchSize);
// The same for the file's contents.
TArchiveTemplate ParseTemplate(const QByteArray &contents, qint32 totalArchSize);
inline constexpr qint64 kMaxTemplateSize = 1 << 20;

// A number field with up/down buttons whose limits are applied to every
// value given to it and to the text it holds when it loses the focus: with
// equal bounds no limit applies; otherwise a value below the lower bound
// becomes the lower bound, and else one above the upper bound becomes the
// upper bound (so with the upper bound under the lower one, every value
// above it becomes the upper bound). A text that is no number reads as the
// lower bound. Typed characters other than digits, signs and the decimal
// separator are refused with a beep.
class TSpinEdit : public QAbstractSpinBox {
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget *parent = nullptr);

    qint32 MinValue() const { return minValue_; }
    qint32 MaxValue() const { return maxValue_; }
    void SetMinValue(qint32 value) { minValue_ = value; }
    void SetMaxValue(qint32 value) { maxValue_ = value; }

    qint32 Value() const;
    void SetValue(qint32 value);
    qint32 CheckValue(qint32 value) const;

    void stepBy(int steps) override;
    QValidator::State validate(QString &input, int &pos) const override;

signals:
    // The text changed, by the operator or by the program.
    void Changed();

protected:
    StepEnabled stepEnabled() const override;

private:
    qint32 minValue_ = 1;
    qint32 maxValue_ = 1;
};

class TArchiveParamSelector : public QDialog {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 18;

    // File dialogs go to the prompt (not owned).
    explicit TArchiveParamSelector(OperatorPrompt &prompt, QWidget *parent = nullptr);
    ~TArchiveParamSelector() override;

    // Copies of the archive variables, their descriptions and the default
    // choice; all variables make the result until the first confirmation.
    void AssignVarLists(const TOPVarList *vars, const TOPVarList *descriptions, const TOPVarList *defaultMask);

    // The window, modal. On OK the result becomes the marked variables in
    // row order, and true; anything else keeps the result and gives false.
    bool Execute();

    const TOPVarList *ResultVarList() const { return resultVarList_.get(); }
    const TOPVarList *DEfaultMaskVarList() const { return defaultMaskVarList_.get(); }
    const TOPVarList *VarList() const { return varList_.get(); }
    const TOPVarList *RefList() const { return refList_.get(); }

    qint32 Step() const { return step_; }
    qint32 LowRange() const { return lowRange_; }
    qint32 HighRange() const { return highRange_; }
    qint32 TotalArchSize() const { return totalArchSize_; }
    void SetStep(qint32 value);
    void SetLowRange(qint32 value);
    void SetHighRange(qint32 value);
    // A new record count bounds the three fields and selects every record;
    // the count already set keeps the operator's choice.
    void SetTotalArchSize(qint32 value);

    void ApplyMask(const TOPVarList *mask);
    void ApplyMask(const QList<QByteArray> &names);
    void SetChecked(int row, bool checked);
    bool IsChecked(int row) const;
    void ToggleCurrent();
    void ShowReference(int row);
    int CurrentRow() const;

    // The controls, named as in the window's design.
    QLabel *Label2 = nullptr;
    QTableView *VarListGrid = nullptr;
    QLabel *VarRefPanel = nullptr;
    QGroupBox *OptionsGB = nullptr;
    QLabel *Label1 = nullptr;
    TSpinEdit *StepEdit = nullptr;
    QLabel *Label3 = nullptr;
    TSpinEdit *FromNumEdit = nullptr;
    QLabel *Label4 = nullptr;
    TSpinEdit *ToNumEdit = nullptr;
    QPushButton *BitBtn3 = nullptr;
    QPushButton *BitBtn1 = nullptr;
    QPushButton *BitBtn2 = nullptr;
    QPushButton *OKBtn = nullptr;
    QPushButton *CancelBtn = nullptr;

    static const char *const kTemplateFilter;

public slots:
    void BitBtn3Click(); // "Сбросить"
    void BitBtn1Click(); // "Загрузить"
    void BitBtn2Click(); // "Сохранить"

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormCreate();
    void SizeGridColumns();
    void StepEditChange();
    void FromNumEditChange();
    void ToNumEditChange();
    void VarListGridMouseMove(const QPoint &pos);
    // The marked rows' variables, in row order.
    std::unique_ptr<TOPVarList> MarkedVars() const;

    OperatorPrompt &prompt_;
    TArchiveMarksModel *marks_ = nullptr;
    std::unique_ptr<TOPVarList> varList_;
    std::unique_ptr<TOPVarList> refList_;
    std::unique_ptr<TOPVarList> defaultMaskVarList_;
    std::unique_ptr<TOPVarList> resultVarList_;
    qint32 step_ = 1;
    qint32 lowRange_ = 1;
    qint32 highRange_ = 1;
    qint32 totalArchSize_ = 0;
};
