#include "form1.h"

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

bool known(std::int16_t level)
{
    return level == 0 || level == 1;
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
    // Selecting the port again (the chooser and the dialog mirror each
    // other) goes on with its record.
    const bool switched = port != m_port || !m_record.started();
    m_port = port;
    if (switched) m_record.switchPort(LineRecord::now(), port);
    sendToggles();
    // The new port's counts, as far as they were told; its edges judge no
    // pulse against the reads of the port before.
    if (switched) {
        m_counts[port].late.fill(std::nullopt);
        m_switched = true;
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
    m_record.set(LineRecord::now(), LineRecord::kTxd, level(Check1));
    Modul1::DTR(level(Check2));
    m_record.set(LineRecord::now(), LineRecord::kDtr, level(Check2));
    Modul1::RTS(level(Check3));
    m_record.set(LineRecord::now(), LineRecord::kRts, level(Check3));
}

void Form1::pause()
{
    m_paused = true;
}

void Form1::resume()
{
    if (!m_paused) return;
    m_paused = false;
    Modul1::OPENCOM(Port::settings(m_port));
    if (m_record.port() != m_port) m_record.switchPort(LineRecord::now(), m_port);
    sendToggles();
    // The test's changes are not the reads': no pulse is judged across it.
    m_counts[m_port].late.fill(std::nullopt);
    m_switched = true;
}

std::int16_t Form1::output(int toggle) const
{
    const std::array<const QPushButton *, 3> toggles{Check1, Check2, Check3};
    return level(toggles[static_cast<std::size_t>(toggle)]);
}

void Form1::countEdges(int port, const std::vector<Modul1::Edge> &edges)
{
    Counts &counts = m_counts[port];
    for (const Modul1::Edge &edge : edges) {
        if (edge.line < Modul1::kLineDcd || edge.line > Modul1::kLineRi) continue;
        std::int32_t &count = counts.count[static_cast<std::size_t>(edge.line - Modul1::kLineDcd)];
        count = std::max(count, edge.count);
    }
    counts.told = true;
    if (port == m_port) showCounts();
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
        m_record.set(LineRecord::now(), line, level(toggle));
    }
    toggle->setText(toggle->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
}

void Form1::Timer1_Timer()
{
    if (m_paused) return;
    const std::array<std::int16_t, 4> before = m_shown;
    const std::int64_t readTime = LineRecord::now();
    showLevel(Label1, m_shown[0], Modul1::DCD());
    showLevel(Label3, m_shown[1], Modul1::DSR());
    showLevel(Label4, m_shown[2], Modul1::CTS());
    showLevel(Label5, m_shown[3], Modul1::RI());
    takeEdges(readTime, before);
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

// The changes since the last tick: into the record, the counts and the
// marks. Without them the record takes the reads.
void Form1::takeEdges(std::int64_t readTime, const std::array<std::int16_t, 4> &before)
{
    std::vector<Modul1::Edge> edges;
    std::optional<std::int16_t> result;
    // A driver that keeps a buffer full is still asked no more than this.
    for (int call = 0; call < 1024; ++call) {
        const std::size_t had = edges.size();
        result = Modul1::EDGES(edges, kEdgesAtOnce);
        if (!result || *result < kEdgesAtOnce || edges.size() == had) break;
    }
    const bool told = result && *result >= 0;
    Counts &counts = m_counts[m_port];
    if (!told) {
        for (std::size_t i = 0; i < 4; ++i)
            m_record.set(readTime, LineRecord::kDcd + static_cast<int>(i), m_shown[i]);
        // A port that cannot tell, or a driver without EDGES: no counts.
        if (!result || *result == Modul1::kEdgesUntold) {
            counts.told = false;
            showCounts();
        }
        return;
    }

    std::array<std::vector<Modul1::Edge>, 4> byLine;
    for (const Modul1::Edge &edge : edges) {
        if (edge.line < Modul1::kLineDcd || edge.line > Modul1::kLineRi) continue;
        const std::size_t i = static_cast<std::size_t>(edge.line - Modul1::kLineDcd);
        const std::int32_t last = byLine[i].empty() ? counts.count[i] : byLine[i].back().count;
        const int line = LineRecord::kDcd + static_cast<int>(i);
        if (edge.count - last > 1)
            m_record.jump(edge.time, line, edge.level);
        else
            m_record.set(edge.time, line, edge.level);
        byLine[i].push_back(edge);
    }
    // Lines the record does not know yet (after a port switch) and that did
    // not change: as read.
    for (std::size_t i = 0; i < 4; ++i) {
        const int line = LineRecord::kDcd + static_cast<int>(i);
        if (byLine[i].empty() && m_record.levels()[static_cast<std::size_t>(line)] < 0)
            m_record.set(readTime, line, m_shown[i]);
    }
    const bool first = !counts.told;
    counts.told = true;
    noteChanges(before, byLine);
    if (first || !edges.empty()) showCounts();
}

// A line that went to a level and came back between two reads pulsed
// unseen: its count grew by two more than the reads show. An edge that came
// between the read and EDGES (its level is not yet the read's) is judged at
// the next tick, and one that comes later than the read that saw it evens
// out then.
void Form1::noteChanges(const std::array<std::int16_t, 4> &before,
                        std::array<std::vector<Modul1::Edge>, 4> &edges)
{
    Counts &c = m_counts[m_port];
    const bool switched = std::exchange(m_switched, false);
    for (std::size_t i = 0; i < 4; ++i) {
        std::int32_t counted = c.late[i].value_or(0);
        c.late[i].reset();
        std::int32_t last = c.count[i];
        std::int32_t lastDelta = 0;
        for (const Modul1::Edge &edge : edges[i]) {
            // Never back, the driver promises; one change if it went.
            lastDelta = edge.count > last ? edge.count - last : 1;
            counted += lastDelta;
            last = std::max(last, edge.count);
        }
        c.count[i] = last;
        const std::int16_t now = m_shown[i];
        if (!edges[i].empty() && known(now) && edges[i].back().level != now) {
            c.late[i] = lastDelta;
            counted -= lastDelta;
        }
        if (switched || !known(before[i]) || !known(now)) {
            c.unseen[i] = 0;
            continue;
        }
        const std::int32_t seen = before[i] != now ? 1 : 0;
        c.unseen[i] = std::max(c.unseen[i] + counted - seen, -1);
        if (c.unseen[i] >= 2) {
            mark(static_cast<int>(i));
            c.unseen[i] %= 2;
        }
    }
}

void Form1::showCounts()
{
    const Counts &c = m_counts[m_port];
    for (std::size_t i = 0; i < 4; ++i) {
        m_readouts[i]->setToolTip(
            c.told ? QStringLiteral("Změn od otevření portu: %1").arg(c.count[i]) : QString());
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
