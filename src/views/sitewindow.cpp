#include "views/sitewindow.h"

#include "ui/operatorprompt.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// The events list holds at most this many of the newest.
constexpr int kEventsShown = 1000;
const QSize kChartSize(120, 22);

QString LocalText(const QDateTime &at, const char *format = "dd.MM.yyyy HH:mm:ss")
{
    return at.isValid() ? at.toLocalTime().toString(QLatin1String(format)) : QString();
}

} // namespace

// --- the worker ---------------------------------------------------------------------

TSiteRefresher::TSiteRefresher(const TStoreUrl &url) : url_(url) {}

TSiteRefresher::~TSiteRefresher() = default;

bool TSiteRefresher::open()
{
    if (store_ && store_->IsOpen())
        return true;
    static std::atomic<int> connections{0};
    store_ = std::make_unique<TSiteStore>(QStringLiteral("kvarn-site-%1").arg(++connections));
    const TSiteStore::OpenResult result = store_->Open(url_, TSiteStore::Access::ReadOnly);
    if (result == TSiteStore::OpenResult::Ok)
        return true;
    emit Failed(store_->LastError(), result == TSiteStore::OpenResult::BadSchema || result == TSiteStore::OpenResult::BadUrl);
    store_.reset();
    return false;
}

void TSiteRefresher::Refresh()
{
    if (!open())
        return;
    const std::optional<QList<TStoreInstallationState>> states = store_->SiteState();
    if (!states) {
        // The connection is opened anew on the next refresh.
        emit Failed(store_->LastError(), false);
        store_.reset();
        return;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    emit Refreshed(SiteRows(*states, now), now);
}

void TSiteRefresher::LoadEvents(const QString &installation, const QStringList &kinds)
{
    if (!open())
        return;
    const std::optional<QList<TStoreEvent>> events = store_->Events(installation, kinds, kEventsShown);
    if (!events) {
        emit Failed(store_->LastError(), false);
        store_.reset();
        return;
    }
    emit EventsLoaded(installation, *events);
}

void TSiteRefresher::LoadRecords(const QString &installation, const QDateTime &since, const QDateTime &until)
{
    if (!open()) {
        emit RecordsLoaded(installation, {}, QStringLiteral("база недоступна"));
        return;
    }
    const std::optional<TSiteStore::Rows> rows = store_->Records(installation, since, until);
    emit RecordsLoaded(installation, rows.value_or(TSiteStore::Rows{}), rows ? QString() : store_->LastError());
}

// --- the table ----------------------------------------------------------------------

QPixmap SiteDayChart(const TSiteRow &row, QSize size)
{
    QPixmap pixmap(size);
    pixmap.fill(Qt::white);
    if (row.Day.isEmpty())
        return pixmap;
    double low = row.Day.first().y(), high = low;
    for (const QPointF &p : row.Day) {
        low = std::min(low, p.y());
        high = std::max(high, p.y());
    }
    if (row.Threshold1) {
        low = std::min(low, *row.Threshold1);
        high = std::max(high, *row.Threshold1);
    }
    if (high <= low)
        high = low + 1;
    const double first = row.Day.first().x();
    const double span = std::max(1.0, row.Day.last().x() - first);
    auto y = [&](double v) { return int((size.height() - 2) * (1 - (v - low) / (high - low))) + 1; };
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (row.Threshold1) {
        painter.setPen(QPen(Qt::red, 1, Qt::DashLine));
        painter.drawLine(0, y(*row.Threshold1), size.width() - 1, y(*row.Threshold1));
    }
    // One vertical stroke per pixel column, from the lowest to the highest
    // value falling into it.
    painter.setPen(QPen(Qt::darkBlue, 1));
    QList<std::pair<double, double>> columns(size.width(), {0, 0});
    QList<bool> used(size.width(), false);
    for (const QPointF &p : row.Day) {
        const int x = std::clamp(int((p.x() - first) / span * (size.width() - 1)), 0, int(size.width()) - 1);
        auto &[a, b] = columns[x];
        if (!used[x])
            a = b = p.y();
        a = std::min(a, p.y());
        b = std::max(b, p.y());
        used[x] = true;
    }
    int lastX = -1, lastY = 0;
    for (int x = 0; x < size.width(); ++x) {
        if (!used[x])
            continue;
        const int top = y(columns[x].second), bottom = y(columns[x].first);
        painter.drawLine(x, top, x, bottom);
        if (lastX >= 0)
            painter.drawLine(lastX, lastY, x, (top + bottom) / 2);
        lastX = x;
        lastY = (top + bottom) / 2;
    }
    return pixmap;
}

void TSiteTableModel::SetRows(const QList<TSiteRow> &rows)
{
    beginResetModel();
    rows_ = rows;
    charts_.clear();
    for (const TSiteRow &row : rows_)
        charts_ << SiteDayChart(row, kChartSize);
    greyed_ = false;
    endResetModel();
}

void TSiteTableModel::SetGreyed(bool greyed)
{
    if (greyed_ == greyed)
        return;
    greyed_ = greyed;
    if (!rows_.isEmpty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, cCount - 1));
}

int TSiteTableModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

int TSiteTableModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : cCount; }

QVariant TSiteTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const QStringList names{"Установка", "Заводской №", "Связь", "Активность, Бк/м³", "Время", "Возраст",
                                   "Тревога", "Неисправности", "Записей", "Последняя запись", "24 ч"};
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return names.value(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

QVariant TSiteTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows_.size())
        return {};
    const TSiteRow &row = rows_[index.row()];
    const int column = index.column();
    if (role == Qt::DisplayRole) {
        switch (column) {
        case cName: return row.Installation;
        case cSerial: return row.Serial;
        case cLink: return row.LinkText;
        case cActivity: return row.Activity;
        case cAt: return LocalText(row.At);
        case cAge: return row.AgeText();
        case cAlarm: return row.AlarmText();
        case cFaults: {
            QStringList words = row.Faults;
            if (row.Stuck)
                words << EventKindText(QStringLiteral("stuck"));
            return words.join(QStringLiteral(", "));
        }
        case cRecords: return row.Records;
        case cNewest: return row.NewestRecord;
        default: return {};
        }
    }
    if (role == SortRole) {
        switch (column) {
        case cLink: return int(row.LinkState) * 1000000000LL + (row.AgeSeconds < 0 ? 999999999LL : row.AgeSeconds);
        case cActivity: return row.ActivityValue ? QVariant(*row.ActivityValue) : QVariant(-1e308);
        case cAt: return row.At;
        case cAge: return row.AgeSeconds;
        case cAlarm: return row.AlarmKnown ? row.Alarm : -1;
        case cFaults: return row.Faults.size() + (row.Stuck ? 1 : 0);
        case cRecords: return row.Records;
        case cNewest:
        case cDay: return row.Day.isEmpty() ? 0.0 : row.Day.last().x();
        default: return data(index, Qt::DisplayRole);
        }
    }
    if (role == Qt::DecorationRole && column == cDay)
        return charts_.value(index.row());
    if (role == Qt::BackgroundRole && column == cAlarm)
        return QColor(!row.AlarmKnown ? Qt::lightGray : row.Alarm == 2 ? Qt::red : row.Alarm == 1 ? Qt::yellow : Qt::green);
    if (role == Qt::ForegroundRole) {
        if (greyed_)
            return QColor(Qt::gray);
        if ((column == cLink && row.LinkState != TSiteRow::Link::Up) || (column == cFaults && !row.Faults.isEmpty()))
            return QColor(Qt::red);
    }
    if (role == Qt::FontRole && row.NeedsAttention() && column == cName) {
        QFont font;
        font.setBold(true);
        return font;
    }
    if (role == Qt::TextAlignmentRole && (column == cActivity || column == cRecords || column == cAge))
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

// --- the window ---------------------------------------------------------------------

TSiteWindow::TSiteWindow(const TStoreUrl &url, OperatorPrompt &prompt, QWidget *parent)
    : QWidget(parent, Qt::Window), url_(url), prompt_(prompt)
{
    qRegisterMetaType<TSiteRow>();
    qRegisterMetaType<QList<TSiteRow>>();
    qRegisterMetaType<TStoreEvent>();
    qRegisterMetaType<QList<TStoreEvent>>();
    qRegisterMetaType<TSiteStore::Rows>();
    setObjectName(QStringLiteral("SiteWindow"));
    setAttribute(Qt::WA_DeleteOnClose, false);

    model_ = new TSiteTableModel(this);
    sorted_ = new QSortFilterProxyModel(this);
    sorted_->setSourceModel(model_);
    sorted_->setSortRole(TSiteTableModel::SortRole);
    view_ = new QTableView(this);
    view_->setObjectName(QStringLiteral("SiteTable"));
    view_->setModel(sorted_);
    view_->setSortingEnabled(true);
    view_->sortByColumn(-1, Qt::AscendingOrder); // the model's own order until a header is clicked
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->verticalHeader()->hide();
    view_->setIconSize(kChartSize);
    view_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    events_ = new QStandardItemModel(0, 3, this);
    events_->setHorizontalHeaderLabels({QStringLiteral("Время"), QStringLiteral("Событие"), QStringLiteral("Подробности")});
    auto *eventsView = new QTableView(this);
    eventsView->setObjectName(QStringLiteral("SiteEvents"));
    eventsView->setModel(events_);
    eventsView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    eventsView->verticalHeader()->hide();
    eventsView->horizontalHeader()->setStretchLastSection(true);
    kindFilter_ = new QComboBox(this);
    kindFilter_->setObjectName(QStringLiteral("SiteEventKind"));
    kindFilter_->addItem(QStringLiteral("все события"), QString());
    for (const QString &kind : EventKinds())
        kindFilter_->addItem(EventKindText(kind), kind);

    interval_ = new QSpinBox(this);
    interval_->setObjectName(QStringLiteral("SiteRefreshSeconds"));
    interval_->setRange(2, 600);
    interval_->setSuffix(QStringLiteral(" с"));
    interval_->setValue(kDefaultRefreshSeconds);
    auto *period = new QPushButton(QStringLiteral("Архив за период…"), this);
    period->setObjectName(QStringLiteral("SitePeriod"));
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("SiteStatus"));

    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Обновлять каждые"), this));
    top->addWidget(interval_);
    top->addStretch();
    top->addWidget(period);
    auto *eventsBox = new QWidget(this);
    auto *eventsLayout = new QVBoxLayout(eventsBox);
    eventsLayout->setContentsMargins(0, 0, 0, 0);
    auto *filterRow = new QHBoxLayout;
    filterRow->addWidget(new QLabel(QStringLiteral("События установки:"), eventsBox));
    filterRow->addWidget(kindFilter_);
    filterRow->addStretch();
    eventsLayout->addLayout(filterRow);
    eventsLayout->addWidget(eventsView);
    auto *splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(view_);
    splitter->addWidget(eventsBox);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(splitter);
    layout->addWidget(status_);
    resize(1100, 600);

    thread_ = new QThread(this);
    thread_->setObjectName(QStringLiteral("kvarn-site"));
    refresher_ = new TSiteRefresher(url_);
    refresher_->moveToThread(thread_);
    connect(thread_, &QThread::finished, refresher_, &QObject::deleteLater);
    connect(this, &TSiteWindow::RefreshWanted, refresher_, &TSiteRefresher::Refresh);
    connect(this, &TSiteWindow::EventsWanted, refresher_, &TSiteRefresher::LoadEvents);
    connect(this, &TSiteWindow::RecordsWanted, refresher_, &TSiteRefresher::LoadRecords);
    connect(refresher_, &TSiteRefresher::Refreshed, this, &TSiteWindow::refreshed);
    connect(refresher_, &TSiteRefresher::Failed, this, &TSiteWindow::failed);
    connect(refresher_, &TSiteRefresher::EventsLoaded, this, &TSiteWindow::eventsLoaded);
    connect(refresher_, &TSiteRefresher::RecordsLoaded, this,
            [this](const QString &installation, const TSiteStore::Rows &rows, const QString &error) {
                if (!error.isEmpty())
                    prompt_.Warning(QStringLiteral("Записи %1 не прочитаны: %2").arg(installation, error));
                else
                    emit ArchiveLoaded(installation, rows);
            });
    thread_->start();

    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, [this]() {
        // A refresh still running is not asked for twice.
        if (busy_)
            return;
        busy_ = true;
        emit RefreshWanted();
    });
    connect(interval_, &QSpinBox::valueChanged, this, [this](int seconds) { timer_->setInterval(seconds * 1000); });
    connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this, &TSiteWindow::selectionChanged);
    connect(kindFilter_, &QComboBox::currentIndexChanged, this, &TSiteWindow::selectionChanged);
    connect(period, &QPushButton::clicked, this, &TSiteWindow::askPeriod);
    timer_->setInterval(kDefaultRefreshSeconds * 1000);
    timer_->start();
    updateTitle();
    busy_ = true;
    emit RefreshWanted();
}

TSiteWindow::~TSiteWindow()
{
    thread_->quit();
    thread_->wait();
}

void TSiteWindow::SetRefreshSeconds(int seconds) { interval_->setValue(seconds); }

QString TSiteWindow::StatusText() const { return status_->text(); }

void TSiteWindow::refreshed(const QList<TSiteRow> &rows, const QDateTime &at)
{
    busy_ = false;
    const QString selected = SelectedInstallation();
    model_->SetRows(rows);
    failure_.clear();
    lastGood_ = at;
    if (!selected.isEmpty())
        SelectInstallation(selected);
    updateTitle();
    emit RefreshEnded();
}

void TSiteWindow::failed(const QString &reason, bool refused)
{
    busy_ = false;
    if (refused) {
        timer_->stop();
        failure_ = QStringLiteral("не база площадки: %1").arg(reason);
        prompt_.Error(failure_);
    } else {
        failure_ = QStringLiteral("база недоступна: %1").arg(reason);
    }
    model_->SetGreyed(true);
    updateTitle();
    emit RefreshEnded();
}

void TSiteWindow::updateTitle()
{
    const int attention = AttentionCount(model_->Rows());
    QString title = QStringLiteral("Площадка — %1").arg(url_.Driver == QLatin1String("QSQLITE")
                                                           ? url_.Path.section('/', -1)
                                                           : url_.DatabaseName);
    if (attention > 0)
        title += QStringLiteral(" (требуют внимания: %1)").arg(attention);
    setWindowTitle(title);
    QString status = QStringLiteral("Установок: %1, требуют внимания: %2").arg(model_->rowCount()).arg(attention);
    if (lastGood_.isValid())
        status += QStringLiteral("; обновлено %1").arg(LocalText(lastGood_, "HH:mm:ss"));
    if (!failure_.isEmpty())
        status = failure_ + QStringLiteral("; последнее обновление: %1")
                                .arg(lastGood_.isValid() ? LocalText(lastGood_, "HH:mm:ss") : QStringLiteral("не было"));
    status_->setText(status);
}

QString TSiteWindow::SelectedInstallation() const
{
    const QModelIndexList rows = view_->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return QString();
    return sorted_->mapToSource(rows.first()).siblingAtColumn(TSiteTableModel::cName).data().toString();
}

void TSiteWindow::SelectInstallation(const QString &name)
{
    for (int r = 0; r < model_->rowCount(); ++r)
        if (model_->Rows()[r].Installation == name) {
            const QModelIndex index = sorted_->mapFromSource(model_->index(r, 0));
            const QSignalBlocker block(view_->selectionModel());
            view_->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            return;
        }
}

void TSiteWindow::selectionChanged()
{
    const QString installation = SelectedInstallation();
    events_->removeRows(0, events_->rowCount());
    if (installation.isEmpty())
        return;
    const QString kind = kindFilter_->currentData().toString();
    emit EventsWanted(installation, kind.isEmpty() ? QStringList() : QStringList{kind});
}

void TSiteWindow::eventsLoaded(const QString &installation, const QList<TStoreEvent> &events)
{
    if (installation != SelectedInstallation())
        return;
    events_->removeRows(0, events_->rowCount());
    for (const TStoreEvent &event : events)
        events_->appendRow({new QStandardItem(LocalText(event.At)), new QStandardItem(EventKindText(event.Kind)),
                            new QStandardItem(event.Detail)});
}

void TSiteWindow::LoadPeriod(const QDateTime &since, const QDateTime &until)
{
    const QString installation = SelectedInstallation();
    if (installation.isEmpty()) {
        prompt_.Warning(QStringLiteral("Выберите установку."));
        return;
    }
    emit RecordsWanted(installation, since, until);
}

void TSiteWindow::askPeriod()
{
    if (SelectedInstallation().isEmpty()) {
        prompt_.Warning(QStringLiteral("Выберите установку."));
        return;
    }
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("SitePeriodDialog"));
    dialog.setWindowTitle(QStringLiteral("Архив за период: %1").arg(SelectedInstallation()));
    // The installation's clock, as its records carry it.
    const QDateTime now = QDateTime::currentDateTime();
    auto *since = new QDateTimeEdit(now.addDays(-1), &dialog);
    auto *until = new QDateTimeEdit(now, &dialog);
    since->setObjectName(QStringLiteral("SitePeriodSince"));
    until->setObjectName(QStringLiteral("SitePeriodUntil"));
    for (QDateTimeEdit *edit : {since, until}) {
        edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy HH:mm"));
        edit->setCalendarPopup(true);
    }
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto *form = new QFormLayout(&dialog);
    form->addRow(QStringLiteral("С"), since);
    form->addRow(QStringLiteral("по"), until);
    form->addRow(buttons);
    if (prompt_.Exec(dialog) != QDialog::Accepted)
        return;
    // Wall-clock times carried as UTC, as the store reads them.
    QDateTime from(since->dateTime().date(), since->dateTime().time(), Qt::UTC);
    QDateTime to(until->dateTime().date(), until->dateTime().time(), Qt::UTC);
    if (to < from) {
        prompt_.Warning(QStringLiteral("Конец периода раньше его начала."));
        return;
    }
    LoadPeriod(from, to);
}
