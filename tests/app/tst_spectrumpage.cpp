// The page "Спектр" against the installation emulator on a pseudo-terminal:
// both spectra read into their own views with the wait window's progress,
// a read that fails leaving the view as it was, and spectrum files loaded
// and saved from the tool bar and the menu on the active sub-page without
// a word to the installation.

#include "app/mainform.h"
#include "app/waitwindow.h"
#include "base/textutils.h"
#include "instrument/ormak.h"
#include "instrument/radiationspectr.h"
#include "sim/simspectrum.h"
#include "support/scriptedprompt.h"
#include "support/simprocess.h"
#include "views/energycalibrationform.h"
#include "views/spectrview.h"

#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {
QString u8(const char *text)
{
    return QString::fromUtf8(text);
}

const QByteArray kEverything = "1-1;1-2;1-3;2-1;2-2;3;4;";
const char *const kSpectrumFilter = "Файлы спектральных характеристик|*.spc|Все файлы|*.*";
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

QByteArray fileBytes(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

class TestSpectrumPage : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void bothSpectraReadIntoTheirViews();
    void failedReadLeavesTheView();
    void filesOnTheActiveSubPage();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<ScriptedPrompt> prompt_;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<TMainForm> form_;

    bool startInstallation(const QStringList &options = {});
    void makeForm();
    TMainForm &form() { return *form_; }
    template <class T = QWidget>
    T *named(const char *name)
    {
        T *w = form_->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    TSpectrView *view(const char *name) { return named<TSpectrView>(name); }
    void click(const char *name) { QTest::mouseClick(named<QAbstractButton>(name), Qt::LeftButton); }
    // Page "Спектр", sub-page 0 "Основной" or 1 "Фоновый", as the operator selects them.
    void selectSpectrum(int subPage)
    {
        for (auto [tabs, index] : {std::pair(named<QTabWidget>("MainPageControl"), 1),
                                   std::pair(named<QTabWidget>("SpectrPageControl"), subPage)}) {
            QTabBar *bar = tabs->tabBar();
            QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
            QCOMPARE(tabs->currentIndex(), index);
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

void TestSpectrumPage::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    QVERIFY(QDir::setCurrent(dir_->path()));
    SetProgramDir(dir_->path());
    prompt_ = std::make_unique<ScriptedPrompt>();
    sim_ = std::make_unique<SimProcess>();
}

void TestSpectrumPage::cleanup()
{
    form_.reset();
    QVERIFY2(prompt_->Unexpected().isEmpty(), qPrintable(prompt_->Unexpected().join(u'\n')));
    QCOMPARE(prompt_->PendingAnswers(), 0);
    sim_.reset();
}

bool TestSpectrumPage::startInstallation(const QStringList &options)
{
    if (!sim_->Start(options)) {
        qWarning("%s", qPrintable(sim_->ErrorText()));
        return false;
    }
    QFile file(dir_->filePath(QStringLiteral("commport.cfg")));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("PortNumber=" + QFile::encodeName(sim_->LinkPath())
               + "\r\nTransferRate=9600 baud\r\nStopBits=1 bit\r\nParitet=None\r\n"
                 "LatencyPeriod=Approximately 0.25 second\r\nDTRControl=HandShake\r\nRTSControl=HandShake\r\n"
                 "WriteTimeOutMultiplier=0\r\nWriteTimeOutConstant=0\r\n");
    return true;
}

void TestSpectrumPage::makeForm()
{
    form_ = std::make_unique<TMainForm>(prompt_.get());
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    form_->ApplyPrivileges(kEverything);
}

void TestSpectrumPage::bothSpectraReadIntoTheirViews()
{
    QVERIFY(startInstallation());
    makeForm();
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
}

void TestSpectrumPage::failedReadLeavesTheView()
{
    // Every reply after the first spectrum read comes with a spoilt checksum.
    QVERIFY(startInstallation({"--fault", QStringLiteral("%1-:bad-payload").arg(kRequestsPerSpectrum + 1)}));
    makeForm();
    selectSpectrum(0);
    click("RequestButton");
    QCOMPARE(sim_->RequestLines().size(), kRequestsPerSpectrum);
    const QList<qint32> shown = countsOf(view("MainSpectrView")->ViewSpectrum());
    QVERIFY(shown != QList<qint32>(1024, 0));

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
        QCOMPARE(countsOf(view("MainSpectrView")->ViewSpectrum()), shown);
        QCOMPARE(countsOf(view("BackgroundSpectrView")->ViewSpectrum()), QList<qint32>(1024, 0));
        QCOMPARE(view("MainSpectrView")->SpectrBox->Image().toImage(), mainBefore);
        QCOMPARE(view("BackgroundSpectrView")->SpectrBox->Image().toImage(), backgroundBefore);
    }
}

void TestSpectrumPage::filesOnTheActiveSubPage()
{
    QVERIFY(startInstallation());
    makeForm();
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
    const QString in = dir_->filePath(QStringLiteral("in.spc"));
    const QString out = dir_->filePath(QStringLiteral("out.spc"));
    QVERIFY(calibrated.SaveToFile(in));
    QFile shortFile(dir_->filePath(QStringLiteral("short.spc")));
    QVERIFY(shortFile.open(QIODevice::WriteOnly) && shortFile.write(fileBytes(in).left(4607)) == 4607);
    shortFile.close();

    selectSpectrum(1);
    // Cancelled, then a file that does not load: nothing changes, nothing is said.
    prompt_->ExpectOpenFile(QString());
    click("ToolButton1");
    prompt_->ExpectOpenFile(shortFile.fileName());
    named<QAction>("N5")->trigger();
    QCOMPARE(countsOf(view("BackgroundSpectrView")->ViewSpectrum()), QList<qint32>(1024, 0));
    // Loaded on "Фоновый", saved from there: the same 4608 bytes.
    prompt_->ExpectOpenFile(in);
    click("ToolButton1");
    QCOMPARE(countsOf(view("BackgroundSpectrView")->ViewSpectrum()), countsOf(&calibrated));
    prompt_->ExpectSaveFile(out);
    named<QAction>("N6")->trigger();
    QCOMPARE(fileBytes(out).size(), 4608);
    QCOMPARE(fileBytes(out), fileBytes(in));
    // A save that cannot be written is reported; the old file stays whole.
    prompt_->ExpectSaveFile(dir_->filePath(QStringLiteral("no such folder/x.spc")));
    prompt_->ExpectWarning();
    click("ToolButton2");
    QCOMPARE(prompt_->Messages(), QStringList{u8("Сохранить спектр в файле не удалось")});

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
    QCOMPARE(fileBytes(out), deviceMain);
}

QTEST_MAIN(TestSpectrumPage)
#include "tst_spectrumpage.moc"
