// The page "Спектр" against the installation emulator on a pseudo-terminal:
// both spectra read into their own views with the wait window's progress,
// then reads that fail leaving both views as they were, and spectrum files loaded
// and saved from the tool bar and the menu on the active sub-page without
// a word to the installation.

#include "app/terminallistbox.h"
#include "app/waitwindow.h"
#include "instrument/ormak.h"
#include "instrument/radiationspectr.h"
#include "sim/simspectrum.h"
#include "support/windowonsim.h"
#include "views/energycalibrationform.h"
#include "views/spectrview.h"

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

namespace {
const char *const kSpectrumFilter = "Файлы спектральных характеристик|*.spc|ANSI N42.42 (XML)|*.n42|"
                                   "IAEA SPE|*.spe|CSV (канал, энергия, счёт)|*.csv|Все файлы|*.*";
// A spectrum read asks for the block count, then for 32 blocks of 128 bytes.
constexpr int kRequestsPerSpectrum = 33;

QList<qint32> countsOf(const TRadiationSpectr *spectrum)
{
    QList<qint32> counts;
    for (int c = 0; c < TRadiationSpectr::ChannelCount; ++c)
        counts << spectrum->GetCount(c);
    return counts;
}

QList<qint32> countsOf(const TSimCounts &sim)
{
    QList<qint32> counts;
    for (quint32 c : sim)
        counts << qint32(c);
    return counts;
}
} // namespace

class TestSpectrumPage : public QObject, WindowOnSim {
    Q_OBJECT
private slots:
    void init() { initWindow(); }
    void cleanup() { cleanupWindow(); }

    void bothSpectraReadIntoTheirViews();
    void filesOnTheActiveSubPage();
    void shortSpectrumIsNoted();

private:
    TSpectrView *view(const char *name) { return named<TSpectrView>(name); }
    // Page "Спектр", sub-page 0 "Основной" or 1 "Фоновый", as the operator selects them.
    void selectSpectrum(int subPage)
    {
        for (auto [tabs, index] : {std::pair("MainPageControl", 1), std::pair("SpectrPageControl", subPage)}) {
            selectTab(tabs, index);
            QCOMPARE(named<QTabWidget>(tabs)->currentIndex(), index);
        }
    }
    // With KVARN_GRAB_DIR set, the window (or another one) is saved as PNG to look at.
    void grab(const QString &name, QWidget *window = nullptr)
    {
        const QString out = qEnvironmentVariable("KVARN_GRAB_DIR");
        if (!out.isEmpty())
            QVERIFY((window ? window : form_.get())->grab().save(QStringLiteral("%1/%2.png").arg(out, name)));
    }
};

void TestSpectrumPage::bothSpectraReadIntoTheirViews()
{
    // Every reply after the two spectrum reads comes with a spoilt checksum.
    QVERIFY(startInstallation({"--fault", QStringLiteral("%1-:bad-payload").arg(2 * kRequestsPerSpectrum + 1)}));
    QVERIFY(makeForm(kAllPrivileges));
    const QList<qint32> mainCounts = countsOf(SimSpectrumCounts(TSimSpectrumKind::Main, 1));
    const QList<qint32> backgroundCounts = countsOf(SimSpectrumCounts(TSimSpectrumKind::Background, 1));
    QVERIFY(mainCounts != backgroundCounts);

    struct Read {
        int subPage;
        const char *view;
        const char *message;
        const char *variable;
        const QList<qint32> &counts;
    };
    const Read reads[] = {{0, "MainSpectrView", "загрузка спектра VIVUVO", "SPECTRUM1", mainCounts},
                          {1, "BackgroundSpectrView", "загрузка фонового спектра VIVUVO", "SPECTRUM2",
                           backgroundCounts}};
    qsizetype mark = 0;
    for (const Read &read : reads) {
        selectSpectrum(read.subPage);
        QSignalSpy progress(form().WaitWindow->WaitProgressBar, &QProgressBar::valueChanged);
        bool shownDuringRead = false;
        connect(form().WaitWindow->WaitProgressBar, &QProgressBar::valueChanged, this,
                [&] { shownDuringRead = shownDuringRead || form().WaitWindow->isVisible(); });
        click("RequestButton");
        disconnect(form().WaitWindow->WaitProgressBar, nullptr, this, nullptr);

        QCOMPARE(form().WaitWindow->MessagePanel->text(), u8(read.message));
        QVERIFY(shownDuringRead && !form().WaitWindow->isVisible());
        QVERIFY2(progress.count() >= 16, qPrintable(QString::number(progress.count()))); // it moved block by block
        QCOMPARE(form().ExchangeState, quint8(esIdle));
        const QList<QByteArray> requests = sim_->RequestLines().mid(mark);
        mark += requests.size();
        QCOMPARE(requests.size(), kRequestsPerSpectrum);
        for (const QByteArray &request : requests)
            QVERIFY2(request.startsWith(read.variable), request.constData());
        QCOMPARE(countsOf(view(read.view)->ViewSpectrum()), read.counts);
        grab(QStringLiteral("spectrum-%1").arg(read.subPage + 1));
    }
    // Each view kept its own.
    QCOMPARE(countsOf(view("MainSpectrView")->ViewSpectrum()), mainCounts);
    view("MainSpectrView")->EnergyCalibrationForm->SetCurChannel(221);
    grab(QStringLiteral("calibration"), view("MainSpectrView")->EnergyCalibrationForm);
    view("MainSpectrView")->AreaWindow->SetRange(view("MainSpectrView")->ViewSpectrum(), 200, 240);
    grab(QStringLiteral("area"), view("MainSpectrView")->AreaWindow);
    // The plot shows the spectrum: it is drawn above the bottom line.
    const QImage plot = view("MainSpectrView")->SpectrBox->Image().toImage();
    int highest = plot.height();
    for (int x = 0; x < plot.width(); ++x)
        for (int y = 0; y < highest; ++y)
            if ((plot.pixel(x, y) & 0xffffff) == 0x0000ff)
                highest = y;
    QVERIFY2(highest < plot.height() / 2, qPrintable(QString::number(highest)));

    // A read that fails leaves both views as they were, with the warning.
    for (int subPage : {0, 1}) {
        selectSpectrum(subPage);
        const QImage mainBefore = view("MainSpectrView")->SpectrBox->Image().toImage();
        const QImage backgroundBefore = view("BackgroundSpectrView")->SpectrBox->Image().toImage();
        prompt_->ExpectWarning([&] {
            QVERIFY(!form().WaitWindow->isVisible());
            QCOMPARE(form().ExchangeState, quint8(esReading));
        });
        click("RequestButton");
        QCOMPARE(prompt_->Messages().last(), u8("Спектр считан неудачно. Отображение невозможно"));
        QCOMPARE(form().ExchangeState, quint8(esIdle));
        QCOMPARE(countsOf(view("MainSpectrView")->ViewSpectrum()), mainCounts);
        QCOMPARE(countsOf(view("BackgroundSpectrView")->ViewSpectrum()), backgroundCounts);
        QCOMPARE(view("MainSpectrView")->SpectrBox->Image().toImage(), mainBefore);
        QCOMPARE(view("BackgroundSpectrView")->SpectrBox->Image().toImage(), backgroundBefore);
    }
}

void TestSpectrumPage::filesOnTheActiveSubPage()
{
    QVERIFY(startInstallation());
    QVERIFY(makeForm(kAllPrivileges));
    selectSpectrum(0);
    click("RequestButton");
    const QList<qint32> mainShown = countsOf(view("MainSpectrView")->ViewSpectrum());
    const QByteArray deviceMain = form().Installation()->Spectrum->FileImage();
    const QByteArray deviceBackground = form().Installation()->BackgroundSpectrum->FileImage();
    const qsizetype requests = sim_->RequestLines().size();

    TRadiationSpectr calibrated;
    for (int c = 0; c < 1024; ++c)
        calibrated.SetCount(c, c % 2 ? -c : c * 1000);
    calibrated.CoefA = 0.5L;
    calibrated.CoefB = -3;
    const QString in = filePath(QStringLiteral("in.spc"));
    const QString out = filePath(QStringLiteral("out.spc"));
    QVERIFY(calibrated.SaveToFile(in));
    const QString shortFile = filePath(QStringLiteral("short.spc"));
    QVERIFY(writeFileBytes(shortFile, readFileBytes(in).left(4607)));

    selectSpectrum(1);
    // Cancelled, then a file that does not load: nothing changes; the
    // operator is told of the second.
    prompt_->ExpectOpenFile(QString());
    click("ToolButton1");
    prompt_->ExpectOpenFile(shortFile);
    prompt_->ExpectWarning();
    named<QAction>("N5")->trigger();
    QCOMPARE(countsOf(view("BackgroundSpectrView")->ViewSpectrum()), QList<qint32>(1024, 0));
    // Loaded on "Фоновый", saved from there: the same 4608 bytes.
    prompt_->ExpectOpenFile(in);
    click("ToolButton1");
    QCOMPARE(countsOf(view("BackgroundSpectrView")->ViewSpectrum()), countsOf(&calibrated));
    prompt_->ExpectSaveFile(out);
    named<QAction>("N6")->trigger();
    QCOMPARE(readFileBytes(out).size(), 4608);
    QCOMPARE(readFileBytes(out), readFileBytes(in));
    // A save that cannot be written is reported; the old file stays whole.
    prompt_->ExpectSaveFile(filePath(QStringLiteral("no such folder/x.spc")));
    prompt_->ExpectWarning();
    click("ToolButton2");
    QCOMPARE(prompt_->Messages(),
             (QStringList{u8("Чтение спектра из файла не удалось! Файл короче файла спектра: 4607 байт из 4608."),
                          u8("Сохранить спектр в файле не удалось")}));

    for (const ScriptedPrompt::Shown &shown : prompt_->Log())
        if (shown.kind == ScriptedPrompt::Kind::OpenFile || shown.kind == ScriptedPrompt::Kind::SaveFile)
            QCOMPARE(shown.text, u8(kSpectrumFilter));
    // The main view and the installation's spectra are as they were; the
    // installation heard nothing.
    QCOMPARE(countsOf(view("MainSpectrView")->ViewSpectrum()), mainShown);
    QCOMPARE(form().Installation()->Spectrum->FileImage(), deviceMain);
    QCOMPARE(form().Installation()->BackgroundSpectrum->FileImage(), deviceBackground);
    QCOMPARE(sim_->RequestLines().size(), requests);

    // On "Основной" the main view's spectrum is saved, as read.
    selectSpectrum(0);
    prompt_->ExpectSaveFile(out);
    click("ToolButton2");
    QCOMPARE(readFileBytes(out), deviceMain);

    // One N42 file holds both views' spectra; the background view loads its
    // own back. A file refused by its reader says why, and the view stays.
    const QString both = filePath(QStringLiteral("both.n42"));
    prompt_->ExpectSaveFile(both);
    click("ToolButton2");
    selectSpectrum(1);
    QVERIFY(writeFileBytes(filePath(QStringLiteral("half.spe")), "$DATA:\r\n0 511\r\n"));
    prompt_->ExpectOpenFile(filePath(QStringLiteral("half.spe")));
    prompt_->ExpectWarning();
    click("ToolButton1");
    QCOMPARE(prompt_->Messages().last(), u8("Чтение спектра из файла не удалось! В файле не 1024 канала."));
    view("BackgroundSpectrView")->ShowSpectrum(TRadiationSpectr());
    prompt_->ExpectOpenFile(both);
    click("ToolButton1");
    QCOMPARE(countsOf(view("BackgroundSpectrView")->ViewSpectrum()), countsOf(&calibrated));
    QCOMPARE(view("BackgroundSpectrView")->ViewSpectrum()->CoefA, 0.5L);
}

void TestSpectrumPage::shortSpectrumIsNoted()
{
    // Two blocks of 128 bytes: 64 channels, the rest zeros; shown, and noted.
    QVERIFY(startInstallation({"--block-count", "2"}));
    QVERIFY(makeForm(kAllPrivileges));
    selectSpectrum(0);
    click("RequestButton");
    QVERIFY(prompt_->Messages().isEmpty());
    const QList<qint32> counts = countsOf(view("MainSpectrView")->ViewSpectrum());
    QCOMPARE(counts.mid(0, 64), countsOf(SimSpectrumCounts(TSimSpectrumKind::Main, 1)).mid(0, 64));
    QCOMPARE(counts.mid(64), QList<qint32>(TRadiationSpectr::ChannelCount - 64, 0));
    const QListWidget *terminal = form().Terminal();
    QCOMPARE(terminal->item(terminal->count() - 1)->text(),
             u8("спектр неполный: получено каналов 64 из 1024, остальные нулевые"));
}

QTEST_MAIN(TestSpectrumPage)
#include "tst_spectrumpage.moc"
