#include "form3.h"

#include "form1.h"
#include "form2.h"
#include "lintara_version.h"
#include "logotable.h"
#include "look.h"
#include "portframe.h"
#include "ports.h"
#include "widgets.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QUrl>

#include <cmath>

namespace
{

constexpr int kWidth = 3945;
// The settings part lies below the collapsed client height; expanding adds
// the difference of the outer heights, 5055 - 3195.
constexpr int kCollapsedHeight = 2835;
constexpr int kExpandedHeight = kCollapsedHeight + (5055 - 3195);

std::vector<LineArt::Line> lines()
{
    std::vector<LineArt::Line> all;
    for (const LogoLine &l : kLogoLines) {
        all.push_back(
            {l.x1, l.y1, l.x2, l.y2, l.large ? Look::kOrange : Look::kDarkOrange, l.large ? 3 : 2});
    }
    // Line44: the rule above the settings.
    all.push_back({120, 2880, 3840, 2880, Look::kWhite, 1});
    return all;
}

template <class L>
L *label(QWidget *parent, const char *name, const QString &caption, const QColor &colour)
{
    auto *l = new L(caption, parent);
    l->setObjectName(QLatin1String(name));
    Look::textColour(l, colour);
    return l;
}

QPushButton *button(QWidget *parent, const char *name, const QString &caption)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

} // namespace

const QString Form3::kCredit = QStringLiteral("© 2026 Lintara");
const QString Form3::kHomePage = QStringLiteral(LINTARA_HOMEPAGE);

Form3::Form3()
{
    setObjectName(QStringLiteral("Form3"));
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("O programu Lintara"));
    setFont(Look::sansSerif());
    Look::colour(this, Look::kBlack, Look::kBlack);
    setFixedSize(Look::px(kWidth), Look::px(kCollapsedHeight));

    Lines = new LineArt(lines(), this);
    Lines->setObjectName(QStringLiteral("Lines"));
    Lines->setGeometry(0, 0, Look::px(kWidth), Look::px(kExpandedHeight));

    Label1 = label<ClickLabel>(this, "Label1", QStringLiteral("Nastavení >>"), Look::kWhite);
    Label1->setFont(Look::sansSerif(9.75, true));
    Look::place(Label1, 120, 2520, 1365, 240);
    Label1->adjustSize();

    Label2 = label<ClickLabel>(this, "Label2", kCredit, Look::kSilver);
    Label2->setFont(Look::sansSerif(9.75, true));
    Label2->setCursor(Qt::UpArrowCursor);
    Look::place(Label2, 2040, 2520, 1815, 240);
    Label2->adjustSize();

    Frame1 = new PortFrame(this, 120, 3000);

    Label3 = label<QLabel>(this, "Label3", QStringLiteral("[Hlášení]"), Look::kSilver);
    Label3->setWordWrap(true);
    Label3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Look::place(Label3, 1440, 3120, 2295, 855);

    Label5 = label<QLabel>(this, "Label5", QStringLiteral("Rychlost obnovování vstupů"),
                           Look::kDarkOrange);
    Look::place(Label5, 1440, 3960, 2040, 195);
    Label5->adjustSize();

    Command2 = button(this, "Command2", QStringLiteral("-"));
    Look::place(Command2, 1440, 4200, 375, 315);

    Label4 = label<QLabel>(this, "Label4", QStringLiteral("100 ms"), Look::kWhite);
    Label4->setFont(Look::sansSerif(12, true));
    Label4->setAlignment(Qt::AlignCenter);
    Label4->setToolTip(QStringLiteral("Rychlost obnovy dat z portu (ms)"));
    Look::place(Label4, 1800, 4200, 1245, 360);

    Command1 = button(this, "Command1", QStringLiteral("+"));
    Look::place(Command1, 3000, 4200, 375, 315);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(QPixmap(QStringLiteral(":/lintara/settings.png")));
    Look::place(Image1, 3540, 4080, 345, 450);

    setTabOrder(Frame1->option(5), Frame1->option(4));
    setTabOrder(Frame1->option(4), Frame1->option(3));
    setTabOrder(Frame1->option(3), Frame1->option(2));
    setTabOrder(Frame1->option(2), Frame1->option(1));
    setTabOrder(Frame1->option(1), Command1);
    setTabOrder(Command1, Command2);

    connect(Command1, &QAbstractButton::clicked, this, &Form3::Command1_Click);
    connect(Command2, &QAbstractButton::clicked, this, &Form3::Command2_Click);
    connect(Label1, &ClickLabel::clicked, this, &Form3::Label1_Click);
    connect(Label2, &ClickLabel::clicked, this, &Form3::Label2_Click);
    connect(Frame1->option(1), &QAbstractButton::toggled, this, &Form3::Option1_Click);
    connect(Frame1->option(2), &QAbstractButton::toggled, this, &Form3::Option2_Click);
    connect(Frame1->option(3), &QAbstractButton::toggled, this, &Form3::Option3_Click);
    connect(Frame1->option(4), &QAbstractButton::toggled, this, &Form3::Option4_Click);
    connect(Frame1->option(5), &QAbstractButton::toggled, this, &Form3::Option5_Click);
}

void Form3::Form_Load()
{
    Obnova = static_cast<float>(Registry::get<Form1>()->interval());
    showInterval();
    Frame1->probe(UnavailablePorts);
    for (int n = Port::kFirst; n <= Port::kLast; ++n) {
        if (Registry::get<Form2>()->isMarked(n)) markOption(n);
    }
    // A driver without COMSTATUS was probed by opening every port, which
    // leaves the last one opened current: the one the monitor names must be
    // the current one again. (COMSTATUS opens nothing and keeps it.)
    const int inUse = Registry::get<Form1>()->port();
    if (Frame1->markedPort() == 0 && inUse != 0) markOption(inUse);
}

void Form3::markOption(int port)
{
    Frame1->mark(port);
}

void Form3::Command1_Click()
{
    if (Obnova > 9990) return;
    Obnova = Obnova + 10;
    showInterval();
    Registry::get<Form1>()->setInterval(static_cast<int>(std::lround(Obnova)));
}

void Form3::Command2_Click()
{
    if (Obnova >= 20) {
        Obnova = Obnova - 10;
        showInterval();
    }
    Registry::get<Form1>()->setInterval(static_cast<int>(std::lround(Obnova)));
}

void Form3::Label1_Click()
{
    SettingsShown = !SettingsShown;
    if (SettingsShown) {
        setFixedSize(Look::px(kWidth), Look::px(kExpandedHeight));
        Label1->setText(QStringLiteral("Nastavení <<"));
        Label3->setText(Port::unavailableMessage(UnavailablePorts));
    } else {
        setFixedSize(Look::px(kWidth), Look::px(kCollapsedHeight));
        Label1->setText(QStringLiteral("Nastavení >>"));
    }
    Label1->adjustSize();
}

void Form3::Label2_Click()
{
    QDesktopServices::openUrl(QUrl(kHomePage));
}

void Form3::Option1_Click(bool marked)
{
    if (marked) OptionClick(1);
}
void Form3::Option2_Click(bool marked)
{
    if (marked) OptionClick(2);
}
void Form3::Option3_Click(bool marked)
{
    if (marked) OptionClick(3);
}
void Form3::Option4_Click(bool marked)
{
    if (marked) OptionClick(4);
}
void Form3::Option5_Click(bool marked)
{
    if (marked) OptionClick(5);
}

void Form3::OptionClick(int port)
{
    if (!Frame1->select(port)) return;
    Registry::get<Form1>()->setPortTitle(port);
    Registry::get<Form2>()->markOption(port);
}

// "100 ms": the shortest decimal form of the interval and " ms".
void Form3::showInterval()
{
    Label4->setText(QString::number(static_cast<double>(Obnova)) + QStringLiteral(" ms"));
}
