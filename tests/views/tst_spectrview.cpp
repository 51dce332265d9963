// The spectrum view and its calibration dialog, offscreen: the plot read
// back from its pixmap against a computation of its own, the layout, the
// readout under the mouse, the markers and the area with scripted prompts,
// and the calibration through the dialog's own controls.

#include "support/scriptedprompt.h"
#include "views/energycalibrationform.h"
#include "views/spectrview.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QStyle>
#include <QTableView>
#include <QTest>
#include <cmath>
#include <cstring>
#include <functional>
#include <tuple>

namespace {
QString u8(const char *text)
{
    return QString::fromUtf8(text);
}

using Counts = std::function<qint32(int channel)>;

TRadiationSpectr spectrumOf(const Counts &counts, long double a = 1, long double b = 0)
{
    TRadiationSpectr s;
    for (int c = 0; c < TRadiationSpectr::ChannelCount; ++c)
        s.SetCount(c, counts(c));
    s.CoefA = a;
    s.CoefB = b;
    return s;
}

// A view whose plot is exactly plotWidth x plotHeight pixels.
void sizePlot(TSpectrView &view, int plotWidth, int plotHeight)
{
    const int bar = view.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &view);
    view.resize(plotWidth + 6 + bar, plotHeight + 64);
    view.show(); // a hidden widget is laid out when it shows
    QCOMPARE(view.SpectrBox->size(), QSize(plotWidth, plotHeight));
}

void moveMouse(TSpectrView &view, int x)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(x, 5), view.SpectrBox->mapToGlobal(QPointF(x, 5)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view.SpectrBox, &move);
}

void choose(TSpectrView &view, const char *caption)
{
    for (QAction *a : view.PopupMenu->actions())
        if (a->text() == u8(caption)) {
            a->trigger();
            return;
        }
    QFAIL(caption);
}

// Sets a marker at the channel under mouse position x.
void setMarker(TSpectrView &view, int marker, int x)
{
    moveMouse(view, x);
    choose(view, marker == 1 ? "Установить маркер 1" : "Установить маркер 2");
}

// The heights of the main line and of the background, worked out here from
// the counts: the column sums (channels first + 1 ... first + s with first =
// (position + d) x s, never channel 1023), taken as
// main - background (at least 0) when subtracting, measured on the linear
// scale against the peak of what the main line shows, or on the
// log10(1 + sum) scale with the largest main column at the top and the
// decades below it going from all at zoom 1 to one at zoom 101.
struct Heights {
    QList<int> main, background;
};

Heights expectedHeights(const TRadiationSpectr &m, const TRadiationSpectr &b, int width, int height, int scale,
                        int zoom, bool log, bool subtract, int position = 0)
{
    auto columnSum = [&](const TRadiationSpectr &s, int first) {
        qint64 sum = 0;
        for (int c = first + 1; c <= first + scale && c < 1023; ++c)
            sum += s.GetCount(c);
        return sum;
    };
    qint64 peak = 32;
    for (int c = 0; c < 1024; ++c)
        peak = std::max<qint64>(peak, subtract ? qint64(m.GetCount(c)) - b.GetCount(c) : m.GetCount(c));
    qint64 top = 32;
    for (int first = 0; first < 1024; first += scale) {
        const qint64 main = columnSum(m, first);
        top = std::max(top, subtract ? std::max<qint64>(0, main - columnSum(b, first)) : main);
    }
    const long double topDecades = std::log10(1.0L + top);
    const long double decades = topDecades - (topDecades - 1) * (zoom - 1) / 100;
    auto heightOf = [&](qint64 sum) {
        long double h;
        if (log)
            h = std::max<long double>(
                0, std::trunc((std::log10(1.0L + std::max<qint64>(0, sum)) - topDecades + decades) * (height - 1) /
                              decades));
        else
            h = std::trunc(sum / (zoom * 0.2L * peak / height));
        return int(height - std::clamp<long double>(h, -1e6L, 1e6L) - 1);
    };
    Heights e;
    for (int d = 0; d <= std::min(1024 / scale, width) - 2; ++d) {
        const int first = (position + d) * scale;
        const qint64 main = columnSum(m, first);
        e.main << heightOf(subtract ? std::max<qint64>(0, main - columnSum(b, first)) : main);
        e.background << heightOf(columnSum(b, first));
    }
    return e;
}

// Reads a plot back column by column: the point of each column that lies
// inside the plot is painted in colourAt(d), and nothing but the base colour
// lies above the highest of the points around it (of the line and of
// `other`, when given). Gives how many points lay inside, or -1.
int checkColumns(const QImage &image, QRgb base, const QList<int> &y, const std::function<QRgb(int)> &colourAt,
                 const QList<int> &other = {})
{
    auto at = [&](int x, int row) { return image.pixel(x, row) & 0xffffff; };
    const int columns = int(y.size()), height = image.height();
    int inside = 0;
    for (int d = 0; d < columns; ++d) {
        if (y[d] >= 0 && y[d] < height) {
            ++inside;
            if (at(d, y[d]) != (colourAt(d) & 0xffffff)) {
                qWarning("column %d at %d: %06x", d, y[d], at(d, y[d]));
                return -1;
            }
        }
        int top = height - 1;
        for (int n = std::max(0, d - 1); n <= std::min(columns - 1, d + 1); ++n)
            top = std::min({top, y[n], other.isEmpty() ? height - 1 : other[n]});
        for (int row = 0; row < top; ++row)
            if (at(d, row) != (base & 0xffffff)) {
                qWarning("column %d row %d", d, row);
                return -1;
            }
    }
    return inside;
}
} // namespace

class TestSpectrView : public QObject {
    Q_OBJECT
private slots:
    void plotReadBack_data();
    void plotReadBack();
    void layoutOnEveryResize_data();
    void layoutOnEveryResize();
    void readout_data();
    void readout();
    void area_data();
    void area();
    void showSpectrumTakesACopy();
    void calibrationDialogControls();
    void calibrationThroughTheView_data();
    void calibrationThroughTheView();
    void logScaleAndBackground_data();
    void logScaleAndBackground();
    void backgroundItemsFollowTheBackgroundView();
    void screenshot();
};

void TestSpectrView::plotReadBack_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("scale");
    QTest::addColumn<int>("position"); // asked for; the scroll bar may hold it lower
    QTest::addColumn<int>("zoom");
    QTest::addColumn<int>("marker1"); // mouse x for marker 1 (-1: not set)
    QTest::addColumn<int>("marker2");
    QTest::addColumn<int>("kind"); // 0 varied, 1 weak, 2 huge in channel 1023, 3 one peak, 4 at the 32-bit limit
    QTest::addColumn<int>("scrollMaximum");

    QTest::newRow("s4 scrolled to the end") << 200 << 4 << 56 << 1 << -1 << -1 << 0 << 56;
    QTest::newRow("s4 asked past the end") << 200 << 4 << 500 << 1 << -1 << -1 << 0 << 56;
    QTest::newRow("s1 wide: channel 1023 never drawn") << 1100 << 1 << 0 << 1 << -1 << -1 << 2 << 0;
    QTest::newRow("s16 narrow") << 40 << 16 << 20 << 20 << -1 << -1 << 0 << 24;
    QTest::newRow("counts below 32 scaled as 32") << 200 << 1 << 0 << 5 << -1 << -1 << 1 << 824;
    QTest::newRow("markers 120 then 80") << 200 << 1 << 0 << 1 << 120 << 80 << 0 << 824;
    QTest::newRow("markers 80 then 120") << 200 << 1 << 0 << 1 << 80 << 120 << 0 << 824;
    QTest::newRow("only marker 1 at 100") << 200 << 1 << 0 << 1 << 100 << -1 << 0 << 824;
    QTest::newRow("column sums beyond 32 bits") << 200 << 2 << 0 << 101 << -1 << -1 << 4 << 312;
    QTest::newRow("zoom 1") << 400 << 1 << 0 << 1 << -1 << -1 << 3 << 624;
    QTest::newRow("zoom 5 fills the plot") << 400 << 1 << 0 << 5 << -1 << -1 << 3 << 624;
    QTest::newRow("zoom 101") << 400 << 1 << 0 << 101 << -1 << -1 << 3 << 624;
}

void TestSpectrView::plotReadBack()
{
    QFETCH(int, width);
    QFETCH(int, scale);
    QFETCH(int, position);
    QFETCH(int, zoom);
    QFETCH(int, marker1);
    QFETCH(int, marker2);
    QFETCH(int, kind);
    QFETCH(int, scrollMaximum);
    const int height = 150;
    const Counts counts[] = {
        [](int c) { return c == 700 ? 20000 : (c * 37) % 1000 + 3 * (c % 7); },
        [](int c) { return c % 11; },
        [](int c) { return c == 1023 ? 1000000 : 500 + c % 50; },
        [](int c) { return c == 301 ? 30000 : 200; },
        [](int c) { return c % 3 ? 2147483647 : 2147483000; },
    };
    const TRadiationSpectr spectrum = spectrumOf(counts[kind]);

    ScriptedPrompt prompt;
    TSpectrView view(prompt);
    sizePlot(view, width, height);
    view.ShowSpectrum(spectrum);
    if (marker1 >= 0)
        setMarker(view, 1, marker1);
    if (marker2 >= 0)
        setMarker(view, 2, marker2);
    view.ScaleXTB->setValue(scale);
    view.HSpectrScrollBar->setValue(position);
    view.VSpectrScrollBar->setValue(view.VSpectrScrollBar->maximum() - zoom + 1);

    QCOMPARE(view.HSpectrScrollBar->maximum(), scrollMaximum);
    const int p = view.HSpectrScrollBar->value();
    QCOMPARE(p, std::min(position, scrollMaximum));
    const QList<int> y = expectedHeights(spectrum, TRadiationSpectr(), width, height, scale, zoom, false, false, p).main;

    const QImage image = view.SpectrBox->Image().toImage();
    QCOMPARE(image.size(), QSize(width, height));
    const QRgb background = view.palette().color(QPalette::Base).rgb() & 0xffffff;
    auto at = [&](int x, int y) { return image.pixel(x, y) & 0xffffff; };
    const int columns = int(y.size());
    // Each point in the colour of the line that starts there (the next
    // column's; the last keeps its own): red from MarkerLow up to MarkerHigh.
    const int inside = checkColumns(image, background, y, [&](int d) {
        const int first = (p + std::min(d + 1, columns - 1)) * scale;
        return first >= view.MarkerLow && first < view.MarkerHigh ? qRgb(255, 0, 0) : qRgb(0, 0, 255);
    });
    QVERIFY(inside > columns / 2);
    for (int x = columns; x < width; ++x)
        for (int row = 0; row < height; ++row)
            QVERIFY2(at(x, row) == background, qPrintable(QStringLiteral("column %1").arg(x)));

    if (kind == 3) {
        // The peak alone in its column: 5 plot heights high at zoom 1, just
        // the plot's height at zoom 5, a few pixels at zoom 101.
        bool reachesTop = false;
        for (int x = 0; x < width; ++x)
            reachesTop = reachesTop || at(x, 0) != background;
        QCOMPARE(reachesTop, zoom <= 5);
        QCOMPARE(y[300], zoom == 1 ? -601 : zoom == 5 ? -1 : 142);
    }
}

void TestSpectrView::layoutOnEveryResize_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("as built") << QSize(300, 250);
    QTest::newRow("a page") << QSize(515, 300);
    QTest::newRow("full screen") << QSize(1920, 1080);
}

void TestSpectrView::layoutOnEveryResize()
{
    QFETCH(QSize, size);
    ScriptedPrompt prompt;
    TSpectrView view(prompt);
    view.resize(size);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const int W = size.width(), H = size.height();
    const QRect v = view.VSpectrScrollBar->geometry();
    QCOMPARE(v.topLeft(), QPoint(3, 3));
    QCOMPARE(v.height(), H - 64);
    const QRect plot = view.SpectrBox->geometry();
    QCOMPARE(plot, QRect(3 + v.width(), 3, W - 6 - v.width(), H - 64));
    QCOMPARE(view.SpectrBox->Image().size(), plot.size());
    const QRect h = view.HSpectrScrollBar->geometry();
    QCOMPARE(QRect(h.x(), h.y(), h.width(), 0), QRect(plot.x(), plot.bottom() + 1, plot.width(), 0));
    // The bottom row, left to right, centred in the room below.
    const QWidget *row[] = {view.LChannel, view.Channel, view.LEnergy, view.Energy, view.LScaleXTB, view.ScaleXTB};
    QCOMPARE(view.LChannel->x(), 10);
    for (int i = 1; i < 6; ++i) {
        QVERIFY(row[i]->x() > row[i - 1]->geometry().right());
        QVERIFY(row[i]->geometry().top() > h.bottom() && row[i]->geometry().bottom() < H);
    }
    QCOMPARE(view.Energy->geometry(), QRect(view.Energy->x(), view.Channel->y(), 60, 21));
    QCOMPARE(view.ScaleXTB->width(), std::max(0, W - view.ScaleXTB->x() - 5));
    QStringList menu;
    for (const QAction *a : view.PopupMenu->actions())
        menu << (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(menu, (QStringList{u8("Калибровка по энергии"), "-", u8("Установить маркер 1"), u8("Установить маркер 2"),
                                "-", u8("Удалить маркеры"), "-", u8("Показать площадь выделенной области"),
                                "-", u8("Логарифмическая шкала")}));
}

void TestSpectrView::readout_data()
{
    QTest::addColumn<int>("scale");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("mouseX");
    QTest::addColumn<double>("coefA");
    QTest::addColumn<double>("coefB");
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("energy");

    QTest::newRow("uncalibrated") << 1 << 0 << 37 << 1.0 << 0.0 << 37 << 37;
    QTest::newRow("662 keV at 100") << 1 << 0 << 100 << 6.62 << 0.0 << 100 << 662;
    QTest::newRow("scrolled and scaled") << 4 << 56 << 150 << 1.0 << 0.0 << 824 << 824;
    QTest::newRow("right of the last channel reads the last") << 16 << 0 << 150 << 3.0 << 0.0 << 1023 << 3069;
    QTest::newRow("negative energy reads 0") << 1 << 0 << 10 << 1.0 << -50.0 << 10 << 0;
    QTest::newRow("tie rounds down to even") << 1 << 0 << 5 << 0.5 << 0.0 << 5 << 2;
    QTest::newRow("tie rounds up to even") << 1 << 0 << 7 << 0.5 << 0.0 << 7 << 4;
    QTest::newRow("huge calibration holds at the largest") << 1 << 0 << 10 << 1e300 << 0.0 << 10 << 2147483647;
}

void TestSpectrView::readout()
{
    QFETCH(int, scale);
    QFETCH(int, position);
    QFETCH(int, mouseX);
    QFETCH(double, coefA);
    QFETCH(double, coefB);
    QFETCH(int, channel);
    QFETCH(int, energy);
    ScriptedPrompt prompt;
    TSpectrView view(prompt);
    sizePlot(view, 200, 150);
    view.ShowSpectrum(spectrumOf([](int) { return 1; }, coefA, coefB));
    view.ScaleXTB->setValue(scale);
    view.HSpectrScrollBar->setValue(position);
    // The menu opened by the mouse takes the channel where it was clicked;
    // from the keyboard, the one where the mouse last moved.
    moveMouse(view, mouseX + 1);
    const QPoint click(mouseX, 5);
    QContextMenuEvent byMouse(QContextMenuEvent::Mouse, click, view.SpectrBox->mapToGlobal(click));
    QCoreApplication::sendEvent(view.SpectrBox, &byMouse);
    QVERIFY(view.PopupMenu->isVisible());
    view.PopupMenu->hide();
    QContextMenuEvent byKeyboard(QContextMenuEvent::Keyboard, QPoint(3, 3), view.SpectrBox->mapToGlobal(QPoint(3, 3)));
    QCoreApplication::sendEvent(view.SpectrBox, &byKeyboard);
    view.PopupMenu->hide();
    QCOMPARE(view.Channel->text(), QString::number(channel));
    QCOMPARE(view.Energy->text(), QString::number(energy));
    // A new scale starts at the left again; the readout follows at once.
    view.ScaleXTB->setValue(scale == 1 ? 2 : 1);
    QCOMPARE(view.HSpectrScrollBar->value(), 0);
    QCOMPARE(view.CursorChannel, mouseX * view.ScaleXTB->value());
}

void TestSpectrView::area_data()
{
    QTest::addColumn<int>("scale");
    QTest::addColumn<QList<int>>("steps"); // mouse x, then 1 or 2 for the marker set there, or 0 to clear
    QTest::addColumn<int>("low");          // -1: the warning
    QTest::addColumn<int>("high");
    // -1 no background view; 0 one, with its items off; 1 shown; 2 subtracted.
    QTest::addColumn<int>("background");

    QTest::newRow("120 then 80") << 1 << QList<int>{120, 1, 80, 2} << 80 << 120 << -1;
    QTest::newRow("80 then 120") << 1 << QList<int>{80, 1, 120, 2} << 80 << 120 << -1;
    QTest::newRow("only marker 1") << 1 << QList<int>{100, 1} << 0 << 100 << -1;
    QTest::newRow("0 and 1000: one window, not 1001 boxes") << 1 << QList<int>{0, 1, 1000, 2} << 0 << 1000 << -1;
    QTest::newRow("right of the last channel: the last") << 16 << QList<int>{60, 1, 150, 2} << 960 << 1023 << -1;
    QTest::newRow("no markers") << 1 << QList<int>{} << -1 << -1 << -1;
    QTest::newRow("markers cleared") << 1 << QList<int>{10, 1, 20, 2, 0, 0} << -1 << -1 << -1;
    QTest::newRow("background off: no net area") << 1 << QList<int>{80, 1, 120, 2} << 80 << 120 << 0;
    QTest::newRow("net area, background shown") << 1 << QList<int>{80, 1, 120, 2} << 80 << 120 << 1;
    QTest::newRow("net area, background subtracted") << 1 << QList<int>{80, 1, 120, 2} << 80 << 120 << 2;
}

void TestSpectrView::area()
{
    QFETCH(int, scale);
    QFETCH(QList<int>, steps);
    QFETCH(int, low);
    QFETCH(int, high);
    QFETCH(int, background);
    ScriptedPrompt prompt;
    TSpectrView view(prompt);
    TSpectrView backgroundView(prompt);
    // Large enough that the net area is negative: it is shown as it is.
    const Counts backgroundCounts = [](int c) { return c == 90 ? 2147483647 : 300; };
    if (background >= 0) {
        view.SetBackgroundView(&backgroundView);
        backgroundView.ShowSpectrum(spectrumOf(backgroundCounts));
        view.ShowBackgroundItem->setChecked(background == 1);
        view.SubtractBackgroundItem->setChecked(background == 2);
    }
    sizePlot(view, 200, 150);
    const TRadiationSpectr spectrum = spectrumOf([](int c) { return 1000 + c; });
    view.ShowSpectrum(spectrum);
    view.ScaleXTB->setValue(scale);
    for (qsizetype i = 0; i < steps.size(); i += 2) {
        if (steps[i + 1] == 0)
            choose(view, "Удалить маркеры");
        else
            setMarker(view, steps[i + 1], steps[i]);
    }

    if (low < 0) {
        prompt.ExpectWarning();
        choose(view, "Показать площадь выделенной области");
        QCOMPARE(prompt.Messages(), QStringList{u8("Площадь области между маркерами вычислить не удалось")});
        QVERIFY(prompt.Unexpected().isEmpty());
        return;
    }
    qint64 sum = 0, backgroundSum = 0;
    for (int c = low; c <= std::min(high, 1023); ++c) {
        sum += 1000 + c;
        backgroundSum += backgroundCounts(c);
    }
    QString netText;
    bool netVisible = true;
    prompt.ExpectExec([&](QDialog &d) {
        auto *net = d.findChild<QLabel *>(QStringLiteral("NetArea"));
        netVisible = !net->isHidden();
        netText = net->text();
        auto *table = d.findChild<QTableView *>(QStringLiteral("CountsView"));
        const QAbstractItemModel *m = table->model();
        if (m->rowCount() != high - low + 1)
            qWarning("rows %d", m->rowCount());
        for (int row : {0, (high - low) / 2, high - low}) {
            const int c = low + row;
            if (m->index(row, 0).data().toString() != QString::number(c)
                || m->index(row, 1).data().toString() != QString::number(spectrum.GetCount(c)))
                return int(QDialog::Rejected);
        }
        return m->rowCount() == high - low + 1 ? int(QDialog::Accepted) : int(QDialog::Rejected);
    });
    prompt.ExpectInformation();
    choose(view, "Показать площадь выделенной области");
    QVERIFY(prompt.Unexpected().isEmpty());
    QCOMPARE(prompt.PendingAnswers(), 0);
    QCOMPARE(view.AreaWindow->result(), int(QDialog::Accepted));
    QCOMPARE(prompt.Messages(), QStringList{u8("Площадь области между маркерами = ") + QString::number(sum)});
    QCOMPARE(std::pair(view.MarkerLow, view.MarkerHigh), std::pair(low, high));
    QCOMPARE(netVisible, background > 0);
    if (background > 0)
        QCOMPARE(netText, u8("Площадь за вычетом фона = ") + QString::number(sum - backgroundSum));
}

void TestSpectrView::showSpectrumTakesACopy()
{
    ScriptedPrompt prompt;
    TSpectrView view(prompt);
    sizePlot(view, 200, 150);
    TRadiationSpectr source = spectrumOf([](int c) { return c; }, 0.1L / 3, -1e-20L);
    view.ShowSpectrum(source);
    setMarker(view, 1, 50);
    setMarker(view, 2, 70);
    view.ShowSpectrum(source); // a new spectrum clears the markers
    QCOMPARE(std::tuple(view.Marker1, view.Marker2, view.MarkerLow, view.MarkerHigh), std::tuple(0, 0, 0, 0));
    source.SetCount(5, 99);
    source.CoefA = 2;
    const TRadiationSpectr *shown = view.ViewSpectrum();
    QCOMPARE(shown->GetCount(5), 5);
    const long double third = 0.1L / 3;
    QVERIFY(std::memcmp(&shown->CoefA, &third, 10) == 0); // the 80 bits of an extended value
    QVERIFY(shown->CoefB == -1e-20L);
}

void TestSpectrView::calibrationDialogControls()
{
    TEnergyCalibrationForm form;
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QVERIFY(!(form.windowFlags() & (Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint)));
    QVERIFY(!form.to1Btn->icon().isNull() && !form.to2Btn->icon().isNull());
    const QList<QWidget *> tabStops{form.OKBtn, form.CancelBtn, form.to1Btn, form.to2Btn, form.ChannelEdit,
                                    form.EnergyEdit};
    QList<QWidget *> order{form.OKBtn};
    for (QWidget *w = form.OKBtn->nextInFocusChain(); w != form.OKBtn && order.size() < 6; w = w->nextInFocusChain())
        if (tabStops.contains(w))
            order << w;
    QCOMPARE(order, tabStops);

    form.SetCurChannel(120);
    form.SetCurEnergy(360);
    form.show();
    // A letter is undone; an empty edit means 0 and stays empty.
    form.ChannelEdit->setFocus();
    form.ChannelEdit->end(false);
    QTest::keyClicks(form.ChannelEdit, QStringLiteral("5x"));
    QCOMPARE(form.ChannelEdit->text(), QStringLiteral("1205"));
    QCOMPARE(form.CurChannel, 1205);
    form.EnergyEdit->selectAll();
    QTest::keyClick(form.EnergyEdit, Qt::Key_Delete);
    QCOMPARE(form.EnergyEdit->text(), QString());
    QCOMPARE(form.CurEnergy, 0);
    QTest::mouseClick(form.to1Btn, Qt::LeftButton);
    QCOMPARE(std::pair(form.ChannelPanel1->text(), form.EnergyPanel1->text()), std::pair(QStringLiteral("1205"), QStringLiteral("0")));
    QTest::keyClicks(form.EnergyEdit, QStringLiteral("-"));  // no number yet: undone to the last one
    QCOMPARE(form.EnergyEdit->text(), QStringLiteral("0"));
    form.EnergyEdit->setText(QStringLiteral("99999999999")); // beyond 32 bits
    QCOMPARE(form.EnergyEdit->text(), QStringLiteral("0"));
    form.EnergyEdit->setText(QStringLiteral("1324"));
    QTest::mouseClick(form.to2Btn, Qt::LeftButton);
    QCOMPARE(std::tuple(form.Channel1, form.Energy1, form.Channel2, form.Energy2), std::tuple(1205, 0, 1205, 1324));
    QCOMPARE(form.EnergyPanel2->text(), QStringLiteral("1324"));
}

void TestSpectrView::calibrationThroughTheView_data()
{
    QTest::addColumn<QList<int>>("points"); // channel 1, energy 1, channel 2, energy 2
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("calibrated");
    QTest::addColumn<int>("energyAt100");

    QTest::newRow("two points") << QList<int>{100, 662, 200, 1324} << true << true << 662;
    QTest::newRow("cancelled") << QList<int>{100, 662, 200, 1324} << false << false << 300;
    QTest::newRow("one channel twice") << QList<int>{100, 662, 100, 700} << true << false << 300;
    QTest::newRow("negative at low channels") << QList<int>{150, 50, 250, 150} << true << true << 0;
}

void TestSpectrView::calibrationThroughTheView()
{
    QFETCH(QList<int>, points);
    QFETCH(bool, ok);
    QFETCH(bool, calibrated);
    QFETCH(int, energyAt100);
    ScriptedPrompt prompt;
    TSpectrView view(prompt);
    sizePlot(view, 200, 150);
    const TRadiationSpectr source = spectrumOf([](int c) { return c; }, 3, 0);
    view.ShowSpectrum(source);

    // The operator opens the menu over channel 100 and types the points in.
    moveMouse(view, 100);
    prompt.ExpectExec([&](QDialog &d) {
        auto &form = static_cast<TEnergyCalibrationForm &>(d);
        if (form.ChannelEdit->text() != QStringLiteral("100") || form.EnergyEdit->text() != QStringLiteral("300"))
            return int(QDialog::Rejected);
        for (int i = 0; i < 2; ++i) {
            form.ChannelEdit->selectAll();
            QTest::keyClicks(form.ChannelEdit, QString::number(points[2 * i]));
            form.EnergyEdit->selectAll();
            QTest::keyClicks(form.EnergyEdit, QString::number(points[2 * i + 1]));
            QTest::mouseClick(i == 0 ? form.to1Btn : form.to2Btn, Qt::LeftButton);
        }
        QTest::mouseClick(ok ? form.OKBtn : form.CancelBtn, Qt::LeftButton);
        return form.result();
    });
    choose(view, "Калибровка по энергии");
    QVERIFY(prompt.Unexpected().isEmpty());

    const QList<int> kept{view.CalChannel1, view.CalEnergy1, view.CalChannel2, view.CalEnergy2};
    QCOMPARE(kept, ok ? points : QList<int>(4, 0));
    const TRadiationSpectr *shown = view.ViewSpectrum();
    if (calibrated) {
        const long double a = (long double)(points[3] - points[1]) / (points[2] - points[0]);
        QVERIFY(shown->CoefA == a);
        QVERIFY(shown->CoefB == points[1] - points[0] * a);
    } else {
        QVERIFY(shown->CoefA == 3 && shown->CoefB == 0);
    }
    QCOMPARE(source.CoefA, 3.0L); // the spectrum it came from keeps its own
    moveMouse(view, 100);
    QCOMPARE(view.Energy->text(), QString::number(energyAt100));
    // The dialog shows the kept points the next time.
    prompt.ExpectExec([&](QDialog &d) {
        auto &form = static_cast<TEnergyCalibrationForm &>(d);
        return form.ChannelPanel2->text() == QString::number(kept[2]) ? int(QDialog::Rejected) : -1;
    });
    choose(view, "Калибровка по энергии");
    QCOMPARE(view.EnergyCalibrationForm->result(), int(QDialog::Rejected));
}

// --- the logarithmic scale and the background ------------------------------------

namespace {
QAction *menuItem(TSpectrView &view, const char *caption)
{
    for (QAction *a : view.PopupMenu->actions())
        if (a->text() == u8(caption))
            return a;
    return nullptr;
}
} // namespace

void TestSpectrView::logScaleAndBackground_data()
{
    QTest::addColumn<int>("scale");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<bool>("log");
    QTest::addColumn<bool>("show");
    QTest::addColumn<bool>("subtract");
    QTest::addColumn<int>("kind"); // 0 peaks over a falling continuum, 1 counts at the 32-bit limits

    QTest::newRow("log, zoom 1 shows every decade") << 1 << 1 << true << false << false << 0;
    QTest::newRow("log, zoom 5") << 1 << 5 << true << false << false << 0;
    QTest::newRow("log, s4, zoom 101") << 4 << 101 << true << false << false << 0;
    QTest::newRow("linear with the background shown") << 1 << 5 << false << true << false << 0;
    QTest::newRow("linear, background subtracted") << 2 << 5 << false << false << true << 0;
    QTest::newRow("log, background shown and subtracted") << 1 << 5 << true << true << true << 0;
    QTest::newRow("subtracted at the 32-bit limits") << 1 << 101 << false << false << true << 1;
    QTest::newRow("log at the 32-bit limits") << 1 << 2 << true << true << false << 1;
}

void TestSpectrView::logScaleAndBackground()
{
    QFETCH(int, scale);
    QFETCH(int, zoom);
    QFETCH(bool, log);
    QFETCH(bool, show);
    QFETCH(bool, subtract);
    QFETCH(int, kind);
    const int width = 300, height = 150;
    const TRadiationSpectr main = kind == 0
        ? spectrumOf([](int c) { return (c == 200 || c == 201) ? 90000 : c == 640 ? 3000 : 20000 / (1 + c / 8) + c % 5; })
        : spectrumOf([](int c) { return c % 2 ? 2147483647 : -2147483647 - 1; });
    const TRadiationSpectr background = kind == 0
        ? spectrumOf([](int c) { return 15000 / (1 + c / 8) + c % 3 * 40 + (c >= 100 && c < 160 ? 3000 : 0); })
        : spectrumOf([](int c) { return c % 2 ? -2147483647 - 1 : 2147483647; });

    ScriptedPrompt prompt;
    TSpectrView view(prompt);
    TSpectrView backgroundView(prompt);
    view.SetBackgroundView(&backgroundView);
    sizePlot(view, width, height);
    view.ShowSpectrum(main);
    backgroundView.ShowSpectrum(background);
    const QImage linear = view.SpectrBox->Image().toImage();
    view.ScaleXTB->setValue(scale);
    view.VSpectrScrollBar->setValue(view.VSpectrScrollBar->maximum() - zoom + 1);
    view.LogScaleItem->setChecked(log);
    view.ShowBackgroundItem->setChecked(show);
    view.SubtractBackgroundItem->setChecked(subtract);

    const Heights e = expectedHeights(main, background, width, height, scale, zoom, log, subtract);
    // The points as the view's frame gives them, then the pixels drawn.
    QList<int> mainY, backgroundY;
    for (const TSpectrPlotPoint &p : SpectrPlotPoints(*view.ViewSpectrum(), view.PlotFrame()))
        mainY << p.Point.y();
    for (const TSpectrPlotPoint &p : SpectrBackgroundPoints(*view.ViewSpectrum(), view.PlotFrame()))
        backgroundY << p.Point.y();
    QCOMPARE(mainY, e.main);
    QCOMPARE(backgroundY, show ? e.background : QList<int>{});
    const QImage image = view.SpectrBox->Image().toImage();
    const int inside = checkColumns(image, view.palette().color(QPalette::Base).rgb(), e.main,
                                    [](int) { return qRgb(0, 0, 255); }, show ? e.background : QList<int>{});
    QVERIFY(inside > int(e.main.size()) / 2);
    const QRgb green = qRgb(0, 150, 0) & 0xffffff;
    int greenSeen = 0;
    for (int x = 0; x < image.width(); ++x)
        for (int row = 0; row < height; ++row)
            greenSeen += (image.pixel(x, row) & 0xffffff) == green;
    QCOMPARE(greenSeen > 0, show);
    if (kind == 0 && log && !subtract) // at every zoom the largest column reaches the top row
        QCOMPARE(*std::min_element(e.main.begin(), e.main.end()), 0);

    // Every item off again: the specified linear plot, pixel for pixel.
    view.LogScaleItem->setChecked(false);
    view.ShowBackgroundItem->setChecked(false);
    view.SubtractBackgroundItem->setChecked(false);
    view.ScaleXTB->setValue(1);
    view.VSpectrScrollBar->setValue(view.VSpectrScrollBar->maximum());
    QCOMPARE(view.SpectrBox->Image().toImage(), linear);
}

void TestSpectrView::backgroundItemsFollowTheBackgroundView()
{
    ScriptedPrompt prompt;
    TSpectrView view(prompt);
    auto backgroundView = std::make_unique<TSpectrView>(prompt);
    QVERIFY(!menuItem(view, "Показать фоновый спектр")); // only a view with a background offers it
    view.SetBackgroundView(backgroundView.get());
    QStringList tail;
    for (const QAction *a : view.PopupMenu->actions().mid(8))
        tail << (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(tail, (QStringList{"-", u8("Логарифмическая шкала"), u8("Показать фоновый спектр"), u8("Вычесть фон")}));
    for (const char *item : {"Логарифмическая шкала", "Показать фоновый спектр", "Вычесть фон"})
        QVERIFY(menuItem(view, item)->isCheckable() && !menuItem(view, item)->isChecked());

    sizePlot(view, 200, 150);
    view.ShowSpectrum(spectrumOf([](int) { return 100; }));
    const QImage plain = view.SpectrBox->Image().toImage();
    view.ShowBackgroundItem->setChecked(true);
    const QImage flat = view.SpectrBox->Image().toImage();
    // A new background spectrum is drawn at once, and whatever spectrum the
    // background view holds now is the one read (it replaces the old one).
    backgroundView->ShowSpectrum(spectrumOf([](int c) { return c < 100 ? 100 : 10; }));
    QVERIFY(view.SpectrBox->Image().toImage() != flat);
    QVERIFY(view.BackgroundInUse() == backgroundView->ViewSpectrum());
    // A background view that goes away leaves the main view without one.
    backgroundView.reset();
    QVERIFY(!view.BackgroundInUse());
    view.Repaint();
    QCOMPARE(view.SpectrBox->Image().toImage(), plain); // drawn without it, nothing read from it
}

void TestSpectrView::screenshot()
{
    // With KVARN_GRAB_DIR set and the emulator's spectra in it as main.spc
    // and background.spc (kvarnctl spectrum main|background -o ...), the main
    // view on the log scale with the background is saved as spectrum-log.png.
    const QString dir = qEnvironmentVariable("KVARN_GRAB_DIR");
    if (dir.isEmpty() || !QFile::exists(dir + QStringLiteral("/main.spc")))
        QSKIP("KVARN_GRAB_DIR with main.spc and background.spc is not set");
    TRadiationSpectr main, background;
    QVERIFY(main.LoadFromFile(dir + QStringLiteral("/main.spc")));
    QVERIFY(background.LoadFromFile(dir + QStringLiteral("/background.spc")));
    ScriptedPrompt prompt;
    TSpectrView view(prompt);
    TSpectrView backgroundView(prompt);
    view.SetBackgroundView(&backgroundView);
    view.resize(800, 450);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.ShowSpectrum(main);
    backgroundView.ShowSpectrum(background);
    view.LogScaleItem->setChecked(true);
    view.ShowBackgroundItem->setChecked(true);
    setMarker(view, 1, 180);
    setMarker(view, 2, 230);
    QVERIFY(view.grab().save(dir + QStringLiteral("/spectrum-log.png")));
}

QTEST_MAIN(TestSpectrView)
#include "tst_spectrview.moc"
