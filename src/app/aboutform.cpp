#include "app/aboutform.h"

#include "app/jpegimage.h"
#include "ui/fonts.h"
#include "ui/u8.h"

#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

// The picture is compiled into a static library: this makes sure it is
// linked in and registered.
static void initAboutResources()
{
    Q_INIT_RESOURCE(about);
}

namespace {
QLabel *navyLabel(QWidget *parent, const char *name, const QString &text, const QRect &geometry)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignCenter);
    label->setGeometry(geometry);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(0, 0, 128));
    label->setPalette(palette);
    return label;
}
} // namespace

QImage TAboutForm::Picture()
{
    initAboutResources();
    QFile file(QStringLiteral(":/app/pictures/about.jpg"));
    if (!file.open(QIODevice::ReadOnly))
        return QImage();
    return DecodeJpeg(file.readAll());
}

TAboutForm::TAboutForm(QWidget *parent) : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(u8("О программе"));
    setFont(WindowFont());
    setFixedSize(506, 242);

    AboutPanel = new QFrame(this);
    AboutPanel->setObjectName(QStringLiteral("AboutPanel"));
    AboutPanel->setGeometry(2, 2, 501, 193);
    AboutPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    AboutPanel->setLineWidth(2);
    AboutPanel->setAutoFillBackground(true);
    QPalette white = AboutPanel->palette();
    white.setColor(QPalette::Window, Qt::white);
    AboutPanel->setPalette(white);

    Image1 = new QLabel(AboutPanel);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(8, 8, 283, 105);
    Image1->setScaledContents(true);
    Image1->setPixmap(QPixmap::fromImage(Picture()));

    Label1 = navyLabel(AboutPanel, "Label1", u8("КВАРН-1Б"), {312, 14, 183, 37});
    QFont big(QStringLiteral("Arial"));
    big.setFamily(FirstInstalledFamily({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                                        QStringLiteral("DejaVu Sans")}));
    big.setPointSize(24);
    big.setBold(true);
    Label1->setFont(big);
    Label2 = navyLabel(AboutPanel, "Label2", u8("для Windows 9x/ME/NT/2000"), {310, 60, 187, 21});
    VersionNumberLabel = navyLabel(AboutPanel, "VersionNumberLabel", u8("Версия"), {320, 92, 171, 17});

    Bevel1 = new QFrame(AboutPanel);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setGeometry(12, 134, 477, 7);
    Bevel1->setFrameStyle(QFrame::HLine | QFrame::Sunken);

    BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(214, 208, 75, 25);
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutForm::SetVersionNumber(const QString &text)
{
    VersionNumber = text;
    VersionNumberLabel->setText(u8("Версия  ") + text);
}

void TAboutForm::showEvent(QShowEvent *event)
{
    if (const QScreen *s = screen())
        move(s->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
}
