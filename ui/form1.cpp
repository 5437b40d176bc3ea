#include "form1.h"

#include "driverlines.h"
#include "form3.h"
#include "form4.h"
#include "form5.h"
#include "look.h"
#include "modul1.h"
#include "polltimer.h"
#include "ports.h"
#include "widgets.h"

#include <QContextMenuEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimerEvent>

namespace
{

QGroupBox *frame(QWidget *parent, const char *name, const char *caption, int left, int top,
                 int width, int height)
{
    auto *box = new Frame(QString::fromUtf8(caption), parent);
    box->setObjectName(QLatin1String(name));
    Look::place(box, left, top, width, height);
    return box;
}

// An output toggle: a check box drawn as a push button whose caption is its
// state.
QPushButton *toggle(QGroupBox *parent, const char *name, int width)
{
    auto *button = new QPushButton(QStringLiteral("0"), parent);
    button->setObjectName(QLatin1String(name));
    button->setCheckable(true);
    button->setFont(Look::sansSerif(9.75, true));
    Look::place(button, 120, 240, width, 495);
    return button;
}

// An input read-out: white digits on the frame's black, sized to the text.
QLabel *readout(QGroupBox *parent, const char *name)
{
    auto *label = new QLabel(QStringLiteral("0"), parent);
    label->setObjectName(QLatin1String(name));
    label->setFont(Look::sansSerif(12, true));
    Look::textColour(label, Look::kWhite);
    Look::place(label, 240, 240, 165, 300);
    label->adjustSize();
    return label;
}

std::int16_t level(const QPushButton *toggle)
{
    return toggle->isChecked() ? 1 : 0;
}

} // namespace

Form1::Form1()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle(Port::title(0));
    setFont(Look::sansSerif());
    Look::colour(this, Look::kBlack, Look::kBlack);
    setFixedSize(Look::px(3120), Look::px(2400));

    Frame1 = frame(this, "Frame1", "TxD", 120, 120, 855, 855);
    Check1 = toggle(Frame1, "Check1", 615);
    Frame2 = frame(this, "Frame2", "DTR", 1080, 120, 975, 855);
    Check2 = toggle(Frame2, "Check2", 735);
    Frame3 = frame(this, "Frame3", "RTS", 2160, 120, 855, 855);
    Check3 = toggle(Frame3, "Check3", 615);

    Shape1 = new IndicatorBar(Look::kDarkRed, Look::kBrown, this);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    Look::place(Shape1, 120, 1030, 2895, 135);

    Frame4 = frame(this, "Frame4", "DCD", 120, 1200, 615, 615);
    Label1 = readout(Frame4, "Label1");
    Frame6 = frame(this, "Frame6", "DSR", 840, 1200, 615, 615);
    Label3 = readout(Frame6, "Label3");
    Frame7 = frame(this, "Frame7", "CTS", 1560, 1200, 615, 615);
    Label4 = readout(Frame7, "Label4");
    Frame8 = frame(this, "Frame8", "RI", 2280, 1200, 615, 615);
    Label5 = readout(Frame8, "Label5");
    m_readouts = {Label1, Label3, Label4, Label5};

    Command1 = new QPushButton(QStringLiteral("O programu / nastavení"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Look::place(Command1, 120, 1920, 2895, 375);

    setTabOrder(Check1, Check2);
    setTabOrder(Check2, Check3);
    setTabOrder(Check3, Command1);

    Timer1 = new PollTimer(100, this);
    Timer1->setObjectName(QStringLiteral("Timer1"));

    connect(Check1, &QAbstractButton::toggled, this, &Form1::Check1_Click);
    connect(Check2, &QAbstractButton::toggled, this, &Form1::Check2_Click);
    connect(Check3, &QAbstractButton::toggled, this, &Form1::Check3_Click);
    connect(Timer1, &PollTimer::timeout, this, &Form1::Timer1_Timer);
    connect(Command1, &QAbstractButton::clicked, this, &Form1::Command1_Click);
}

void Form1::setPortTitle(int port)
{
    setWindowTitle(Port::title(port));
    m_port = port;
    const bool switched = m_lines.switchPort(LineRecord::now(), port);
    sendToggles();
    if (switched) {
        showCounts();
        // The marks were the other port's pulses.
        for (std::size_t i = 0; i < 4; ++i) {
            if (!m_mark[i].isActive()) continue;
            m_mark[i].stop();
            Look::textColour(m_readouts[i], Look::kWhite);
        }
    }
    if (Registry::exists<Form4>()) Registry::get<Form4>()->setPortTitle(port);
    if (Registry::exists<Form5>()) Registry::get<Form5>()->setPortTitle(port);
}

void Form1::sendToggles()
{
    Modul1::TXD(level(Check1));
    m_lines.sent(LineRecord::now(), LineRecord::kTxd, level(Check1));
    Modul1::DTR(level(Check2));
    m_lines.sent(LineRecord::now(), LineRecord::kDtr, level(Check2));
    Modul1::RTS(level(Check3));
    m_lines.sent(LineRecord::now(), LineRecord::kRts, level(Check3));
}

void Form1::pause()
{
    m_paused = true;
}

// The test went through m_lines too: its record and counts go on.
void Form1::resume()
{
    if (!m_paused) return;
    m_paused = false;
    Modul1::OPENCOM(Port::settings(m_port));
    m_lines.switchPort(LineRecord::now(), m_port);
    sendToggles();
}

std::int16_t Form1::output(int toggle) const
{
    const std::array<const QPushButton *, 3> toggles{Check1, Check2, Check3};
    return level(toggles[static_cast<std::size_t>(toggle)]);
}

int Form1::interval() const
{
    return Timer1->interval();
}

void Form1::setInterval(int milliseconds)
{
    Timer1->setInterval(milliseconds);
}

void Form1::Check1_Click()
{
    sendToggle(Check1, LineRecord::kTxd, Modul1::TXD);
}
void Form1::Check2_Click()
{
    sendToggle(Check2, LineRecord::kDtr, Modul1::DTR);
}
void Form1::Check3_Click()
{
    sendToggle(Check3, LineRecord::kRts, Modul1::RTS);
}

void Form1::sendToggle(QPushButton *toggle, int line, void (*send)(std::int16_t))
{
    if (!m_paused) {
        send(level(toggle));
        m_lines.sent(LineRecord::now(), line, level(toggle));
    }
    toggle->setText(toggle->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
}

void Form1::Timer1_Timer()
{
    if (m_paused) return;
    const std::int64_t readTime = LineRecord::now();
    showLevel(Label1, m_shown[0], Modul1::DCD());
    showLevel(Label3, m_shown[1], Modul1::DSR());
    showLevel(Label4, m_shown[2], Modul1::CTS());
    showLevel(Label5, m_shown[3], Modul1::RI());
    std::vector<Modul1::Edge> edges;
    const std::optional<std::int16_t> result = takeEdges(edges);
    showTick(m_lines.take(readTime, m_shown, result, edges));
    BlinkOn = !BlinkOn;
    Shape1->setFillColor(BlinkOn ? Look::kDarkOrange : Look::kDarkRed);
}

// The caption changes only when the level does: a tick that finds the lines
// as they were touches no label.
void Form1::showLevel(QLabel *label, std::int16_t &shown, std::int16_t level)
{
    if (level == shown) return;
    shown = level;
    label->setText(QString::number(level));
    label->adjustSize();
}

// The changes since the last tick, as many as the driver has.
std::optional<std::int16_t> Form1::takeEdges(std::vector<Modul1::Edge> &edges)
{
    return takeAllEdges(edges, kEdgesAtOnce);
}

void Form1::showTick(const Lines::Tick &tick)
{
    for (std::size_t i = 0; i < 4; ++i)
        if (tick.missed[i]) mark(static_cast<int>(i));
    if (tick.countsChanged) showCounts();
}

void Form1::showCounts()
{
    const std::optional<Lines::Counts> counts = m_lines.counts();
    for (std::size_t i = 0; i < 4; ++i) {
        m_readouts[i]->setToolTip(
            counts ? QStringLiteral("Změn od otevření portu: %1").arg((*counts)[i]) : QString());
    }
}

// The digit goes orange for a second from this tick; another missed pulse
// starts the second again. The text stays the read's.
void Form1::mark(int input)
{
    const auto i = static_cast<std::size_t>(input);
    if (!m_mark[i].isActive()) Look::textColour(m_readouts[i], Look::kOrange);
    m_mark[i].start(kMarkMilliseconds, Qt::PreciseTimer, this);
}

void Form1::timerEvent(QTimerEvent *event)
{
    for (std::size_t i = 0; i < 4; ++i) {
        if (event->timerId() != m_mark[i].timerId()) continue;
        m_mark[i].stop();
        Look::textColour(m_readouts[i], Look::kWhite);
        return;
    }
    Window::timerEvent(event);
}

// The right button anywhere in the window, or the menu key: a menu made for
// the moment, so that the window keeps its controls and its tab order.
void Form1::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("TimelineMenu"));
    menu.addAction(QStringLiteral("Průběh signálů"), this, &Form1::showTimeline);
    menu.addAction(QStringLiteral("Test zapojení"), this, &Form1::showWiring);
    menu.exec(event->globalPos());
}

void Form1::showTimeline()
{
    Registry::show(Registry::get<Form4>());
}

void Form1::showWiring()
{
    Registry::show(Registry::get<Form5>());
}

void Form1::Command1_Click()
{
    Registry::showModal(Registry::get<Form3>());
}

void Form1::Form_Unload()
{
    Registry::endProgram();
}
