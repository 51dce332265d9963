#pragma once
// The window "Площадка": every installation of a site database at a glance,
// refreshed off the window's thread, with the selected installation's events
// and its stored records a click away. The rows come from the site's state
// model; this window only shows them.

#include "analysis/sitestate.h"
#include "store/sitestore.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QPixmap>
#include <QWidget>
#include <memory>

class QComboBox;
class QLabel;
class QSortFilterProxyModel;
class QSpinBox;
class QStandardItemModel;
class QTableView;
class QThread;
class QTimer;
class OperatorPrompt;

// The refresh worker: lives in its own thread with its own connection;
// everything it gives crosses by value.
class TSiteRefresher : public QObject {
    Q_OBJECT
public:
    explicit TSiteRefresher(const TStoreUrl &url);
    ~TSiteRefresher() override;

public slots:
    void Refresh();
    void LoadEvents(const QString &installation, const QStringList &kinds);
    void LoadRecords(const QString &installation, const QDateTime &since, const QDateTime &until);

signals:
    void Refreshed(const QList<TSiteRow> &rows, const QDateTime &at);
    // refused: the database is no site database (it is not tried again).
    void Failed(const QString &reason, bool refused);
    void EventsLoaded(const QString &installation, const QList<TStoreEvent> &events);
    void RecordsLoaded(const QString &installation, const TSiteStore::Rows &rows, const QString &error);

private:
    bool open();
    TStoreUrl url_;
    std::unique_ptr<TSiteStore> store_;
};

class TSiteTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { cName, cSerial, cLink, cActivity, cAt, cAge, cAlarm, cFaults, cRecords, cNewest, cDay, cCount };
    static constexpr int SortRole = Qt::UserRole + 1;
    using QAbstractTableModel::QAbstractTableModel;

    void SetRows(const QList<TSiteRow> &rows);
    void SetGreyed(bool greyed);
    const QList<TSiteRow> &Rows() const { return rows_; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QList<TSiteRow> rows_;
    QList<QPixmap> charts_;
    bool greyed_ = false;
};

// The 24-hour chart of a row: one polyline through the points, the first
// threshold as a line, drawn without antialiasing.
QPixmap SiteDayChart(const TSiteRow &row, QSize size);

class TSiteWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kDefaultRefreshSeconds = 10;
    TSiteWindow(const TStoreUrl &url, OperatorPrompt &prompt, QWidget *parent = nullptr);
    ~TSiteWindow() override;

    void SetRefreshSeconds(int seconds);
    TSiteTableModel *Table() const { return model_; }
    QTableView *TableView() const { return view_; }
    QStandardItemModel *EventsModel() const { return events_; }
    QString StatusText() const;
    void SelectInstallation(const QString &name);
    QString SelectedInstallation() const;
    // Loads the selected installation's records of the period; the result
    // comes as ArchiveLoaded.
    void LoadPeriod(const QDateTime &since, const QDateTime &until);

signals:
    void RefreshWanted();
    void EventsWanted(const QString &installation, const QStringList &kinds);
    void RecordsWanted(const QString &installation, const QDateTime &since, const QDateTime &until);
    void ArchiveLoaded(const QString &installation, const TSiteStore::Rows &rows);
    // Every refresh's end, good or not (for those waiting on one).
    void RefreshEnded();

private:
    void refreshed(const QList<TSiteRow> &rows, const QDateTime &at);
    void failed(const QString &reason, bool refused);
    void eventsLoaded(const QString &installation, const QList<TStoreEvent> &events);
    void selectionChanged();
    void askPeriod();
    void updateTitle();

    TStoreUrl url_;
    OperatorPrompt &prompt_;
    QThread *thread_ = nullptr;
    TSiteRefresher *refresher_ = nullptr;
    TSiteTableModel *model_ = nullptr;
    QSortFilterProxyModel *sorted_ = nullptr;
    QTableView *view_ = nullptr;
    QStandardItemModel *events_ = nullptr;
    QComboBox *kindFilter_ = nullptr;
    QSpinBox *interval_ = nullptr;
    QLabel *status_ = nullptr;
    QTimer *timer_ = nullptr;
    QDateTime lastGood_;
    QString failure_;
    bool busy_ = false;
};

Q_DECLARE_METATYPE(TSiteRow)
Q_DECLARE_METATYPE(TStoreEvent)
Q_DECLARE_METATYPE(TSiteStore::Rows)
