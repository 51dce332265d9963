// The archive table: what it shows of an archive, the column widths, the
// description panel under the mouse and the keys, and the copy it keeps for
// saving after the table has been emptied.

#include "views/devicearchiveview.h"

#include "base/cp1251.h"
#include "support/varlists.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

namespace {
QString u8(const char *text)
{
    return QString::fromUtf8(text);
}

std::unique_ptr<TOPVarList> descriptionsOf(const QList<const char *> &texts)
{
    auto list = std::make_unique<TOPVarList>();
    for (const char *text : texts)
        list->Add(Cp(text));
    return list;
}

// Two of the installation's archive variables and their descriptions.
const QList<QByteArray> kVars = {"DATETIME", "SERIALN", "ACTIVITY"};
const QList<const char *> kDescriptions = {"Дата и время измерения", "Номер установки",
                                           "Измеренная величина (Бк/м**3)"};

void moveMouse(QWidget *target, QPoint pos)
{
    QMouseEvent move(QEvent::MouseMove, pos, target->mapToGlobal(pos), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
}

QPoint cellCentre(const QTableView *grid, int row, int column)
{
    return grid->visualRect(grid->model()->index(row, column)).center();
}
} // namespace

class TestDeviceArchiveView : public QObject {
    Q_OBJECT
private slots:
    void showsTheArchiveAndDescribesItsColumns();
    void emptyAndMissingTables_data();
    void emptyAndMissingTables();
    void columnWidths();
    void clearKeepsTheCopyForSaving();
    void columnDescriptions_data();
    void columnDescriptions();
};

void TestDeviceArchiveView::showsTheArchiveAndDescribesItsColumns()
{
    TDeviceArchiveView view;
    view.resize(500, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTableView *grid = view.ArchiveGrid;
    QLabel *panel = view.ReferencePanel;
    QCOMPARE(grid->geometry(), QRect(3, 3, 494, 300 - 22 - 6));
    QCOMPARE(panel->geometry(), QRect(3, 3 + 272, 494, 22));

    // Before any archive nothing follows the mouse or the keys.
    moveMouse(grid->viewport(), QPoint(20, 20));
    QTest::keyClick(grid, Qt::Key_Down);
    QVERIFY(panel->text().isEmpty());
    QCOMPARE(view.CurrentColumn(), -1);

    const auto archive = archiveOf({"DATETIME", "ACTIVITY"}, {{"05/03/2004 14.07.00", "12.5"},
                                                              {"05/03/2004 14.17.00", "1.23E3"},
                                                              {"05/03/2004 14.27.00", "0"}});
    view.SetColumns(varListOf(kVars).get(), descriptionsOf(kDescriptions).get());
    view.ShowArchive(*archive);

    // The header row and three rows of values, by position.
    QAbstractItemModel *model = grid->model();
    QCOMPARE(model->columnCount(), 2);
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("DATETIME"));
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("ACTIVITY"));
    QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("05/03/2004 14.07.00"));
    QCOMPARE(model->index(1, 1).data().toString(), QStringLiteral("1.23E3"));
    QCOMPARE(model->index(2, 1).data().toString(), QStringLiteral("0"));

    // The panel names the column under the mouse, which becomes current.
    moveMouse(grid->viewport(), cellCentre(grid, 1, 1));
    QCOMPARE(grid->currentIndex(), model->index(1, 1));
    QCOMPARE(panel->text(), u8("Измеренная величина (Бк/м**3)"));
    moveMouse(grid->viewport(), cellCentre(grid, 2, 0));
    QCOMPARE(panel->text(), u8("Дата и время измерения"));
    // Over the header the current cell stays; the panel follows the mouse.
    QHeaderView *header = grid->horizontalHeader();
    moveMouse(header->viewport(), QPoint(header->sectionViewportPosition(1) + 3, header->height() / 2));
    QCOMPARE(grid->currentIndex(), model->index(2, 0));
    QCOMPARE(panel->text(), u8("Измеренная величина (Бк/м**3)"));
    // After a key the panel describes the current column.
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Right);
    QCOMPARE(view.CurrentColumn(), 1);
    QCOMPARE(panel->text(), u8("Измеренная величина (Бк/м**3)"));
    QTest::keyClick(grid, Qt::Key_Left);
    QCOMPARE(panel->text(), u8("Дата и время измерения"));
}

void TestDeviceArchiveView::emptyAndMissingTables_data()
{
    QTest::addColumn<int>("records");
    QTest::addColumn<bool>("withNames");
    QTest::addColumn<bool>("withDescriptions");
    QTest::addColumn<int>("rows"); // 0: the view is empty
    QTest::newRow("no records empties the view") << 0 << true << true << 0;
    QTest::newRow("no names empties the view") << 2 << false << false << 0;
    // A file without a description block: the table, but nothing to describe.
    QTest::newRow("no descriptions, empty panel") << 2 << true << false << 2;
}

void TestDeviceArchiveView::emptyAndMissingTables()
{
    QFETCH(int, records);
    QFETCH(bool, withNames);
    QFETCH(bool, withDescriptions);
    QFETCH(int, rows);

    TDeviceArchiveView view;
    view.resize(400, 200);
    view.show();
    // Something shown before, to be replaced.
    const auto before = archiveOf({"DATETIME"}, {{"x"}});
    before->SetDescriptions(*descriptionsOf({"Дата и время измерения"}));
    view.ShowArchive(*before);
    QCOMPARE(view.ArchiveGrid->model()->rowCount(), 1);

    TDeviceArchive archive;
    if (withNames)
        archive.SetNames(*varListOf({"DATETIME", "ACTIVITY"}));
    for (int i = 0; i < records; ++i) {
        TOPVarList record;
        record.Add("DATETIME", {}, "d" + QByteArray::number(i));
        record.Add("ACTIVITY", {}, "a" + QByteArray::number(i));
        archive.AddRecord(record);
    }
    if (withDescriptions)
        archive.SetDescriptions(*descriptionsOf({"Дата и время измерения", "Измеренная величина (Бк/м**3)"}));
    else if (withNames)
        archive.SetDescriptions(TOPVarList()); // what loading a file without the block leaves
    // As the window does after loading a file: the archive's own lists.
    view.SetColumns(archive.Names(), archive.Descriptions());
    view.ShowArchive(archive);

    QAbstractItemModel *model = view.ArchiveGrid->model();
    QCOMPARE(model->rowCount(), rows);
    QCOMPARE(model->columnCount(), rows ? 2 : 0);
    QCOMPARE(view.ArchiveData().RecordCount(), records);
    // The copy mirrors the archive shown, not the one before it.
    QCOMPARE(view.ArchiveData().Names() != nullptr, withNames);
    if (!withNames)
        QVERIFY(!view.ArchiveData().Descriptions());
    if (rows) {
        moveMouse(view.ArchiveGrid->viewport(), cellCentre(view.ArchiveGrid, 0, 1));
        QCOMPARE(view.CurrentColumn(), 1);
        QVERIFY(view.ReferencePanel->text().isEmpty());
    }
}

void TestDeviceArchiveView::columnWidths()
{
    TDeviceArchiveView view;
    view.resize(600, 300);
    view.show();
    // A value far longer than its name, values all shorter than their name,
    // and Cyrillic values (code page 1251 in the archive).
    const auto archive = archiveOf({"DATETIME", "DRYCONTACTTHR", "X"},
                                   {{"05/03/2004 14.07.00", "1", Cp("Ж")},
                                    {"5", "22", Cp("Широкое значение")},
                                    {"05/03/2004 14.07.01", "3"}});
    view.ShowArchive(*archive);
    QHeaderView *header = view.ArchiveGrid->horizontalHeader();
    const QFontMetrics cell = view.ArchiveGrid->fontMetrics();
    const QStringList widest = {QStringLiteral("05/03/2004 14.07.00"), QStringLiteral("DRYCONTACTTHR"),
                                u8("Широкое значение")};
    for (int c = 0; c < 3; ++c) {
        const QString name = archive->Names()->GetItem(c)->Name;
        QVERIFY2(header->sectionSize(c) >= cell.horizontalAdvance(widest[c]) + 7, qPrintable(widest[c]));
        // Never narrower than its header can show.
        QVERIFY2(header->sectionSize(c) >= header->sectionSizeHint(c), qPrintable(name));
        QVERIFY2(header->sectionSize(c) >= cell.horizontalAdvance(name) + 7, qPrintable(name));
    }
    // Widths follow the widest text, not far beyond it.
    QVERIFY(header->sectionSize(0) <= cell.horizontalAdvance(widest[0]) + 7 + cell.maxWidth());
    // A new size of the view keeps them.
    const int before = header->sectionSize(2);
    view.resize(300, 150);
    QCOMPARE(header->sectionSize(2), before);

    // The measure by character advances agrees with measuring whole texts.
    const std::vector<int> widths = ArchiveColumnWidths(*archive, cell, 10);
    QCOMPARE(int(widths.size()), 3);
    for (int c = 0; c < 3; ++c)
        QVERIFY(widths[size_t(c)] >= cell.horizontalAdvance(widest[c]) + 7);
    QCOMPARE(ArchiveColumnWidths(TDeviceArchive(), cell, 10).size(), size_t(0));
}

void TestDeviceArchiveView::clearKeepsTheCopyForSaving()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    TDeviceArchiveView view;
    view.SetColumns(varListOf(kVars).get(), descriptionsOf(kDescriptions).get());
    auto archive = archiveOf({"DATETIME", "ACTIVITY"}, {{"05/03/2004 14.07.00", "12.5"}});
    archive->SetDescriptions(*descriptionsOf(kDescriptions));
    view.ShowArchive(*archive);
    // The shown archive is the view's own: changing the source changes nothing.
    archive->Clear();
    QCOMPARE(view.ArchiveGrid->model()->rowCount(), 1);

    view.Clear();
    QCOMPARE(view.ArchiveGrid->model()->rowCount(), 0);
    QCOMPARE(view.ArchiveGrid->model()->columnCount(), 0);
    QVERIFY(view.ReferencePanel->text().isEmpty());
    // What the window saves: the copy with the descriptions of its columns.
    TDeviceArchive &copy = view.ArchiveData();
    copy.SetDescriptions(view.ColumnDescriptions());
    const QString file = dir.filePath(QStringLiteral("a.daf"));
    QVERIFY(copy.SaveToFile(file));
    QFile saved(file);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), Cp("DATETIME  Дата и время измерения\r\n"
                                 "ACTIVITY  Измеренная величина (Бк/м**3)\r\n"
                                 "\r\n\r\n"
                                 "DATETIME             ACTIVITY  \r\n"
                                 "05/03/2004 14.07.00  12.5      \r\n"));
    // A redraw brings it back.
    view.DrawArchive();
    QCOMPARE(view.ArchiveGrid->model()->rowCount(), 1);
}

void TestDeviceArchiveView::columnDescriptions_data()
{
    QTest::addColumn<QList<QByteArray>>("varNames");
    QTest::addColumn<int>("descriptionCount"); // of kDescriptions, from the first
    QTest::addColumn<QList<QByteArray>>("columns");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("hovered");
    QTest::addColumn<QString>("panel");
    const QString datetime = u8("Дата и время измерения");
    const QString serial = u8("Номер установки");
    const QString activity = u8("Измеренная величина (Бк/м**3)");
    QTest::newRow("in column order") << kVars << 3 << QList<QByteArray>{"ACTIVITY", "DATETIME"}
                                     << QStringList{activity, datetime} << 0 << activity;
    QTest::newRow("names ignore letter case") << kVars << 3 << QList<QByteArray>{"activity", "SerialN"}
                                              << QStringList{activity, serial} << 1 << serial;
    QTest::newRow("an unknown name adds nothing") << kVars << 3 << QList<QByteArray>{"NOSUCH", "ACTIVITY"}
                                                  << QStringList{activity} << 0 << QString();
    QTest::newRow("stops at a name without description")
        << kVars << 1 << QList<QByteArray>{"DATETIME", "ACTIVITY", "DATETIME"} << QStringList{datetime} << 1
        << QString();
}

void TestDeviceArchiveView::columnDescriptions()
{
    QFETCH(QList<QByteArray>, varNames);
    QFETCH(int, descriptionCount);
    QFETCH(QList<QByteArray>, columns);
    QFETCH(QStringList, expected);
    QFETCH(int, hovered);
    QFETCH(QString, panel);

    TDeviceArchiveView view;
    view.resize(500, 200);
    view.show();
    view.SetColumns(varListOf(varNames).get(), descriptionsOf(kDescriptions.mid(0, descriptionCount)).get());
    QList<QByteArray> values;
    for (int i = 0; i < columns.size(); ++i)
        values.append("v");
    view.ShowArchive(*archiveOf(columns, {values}));

    QStringList built;
    for (int i = 0; view.ColumnDescriptions() && i < view.ColumnDescriptions()->Count(); ++i)
        built.append(FromCp1251(view.ColumnDescriptions()->GetItem(i)->Name));
    QCOMPARE(built, expected);
    moveMouse(view.ArchiveGrid->viewport(), cellCentre(view.ArchiveGrid, 0, hovered));
    QCOMPARE(view.ReferencePanel->text(), panel);
}

QTEST_MAIN(TestDeviceArchiveView)
#include "tst_devicearchiveview.moc"
