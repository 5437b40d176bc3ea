#include "form5.h"

#include "driverlines.h"
#include "form1.h"
#include "look.h"
#include "messagebox.h"
#include "ports.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

class Form5::EventClock final : public WiringTest::Clock
{
public:
    explicit EventClock(QObject *context) : m_context(context) {}

    void after(int milliseconds, std::function<void()> then) override
    {
        QTimer::singleShot(milliseconds, Qt::PreciseTimer, m_context, std::move(then));
    }

private:
    QObject *m_context;
};

Form5::Form5()
    : m_lines(new DriverLines(&Registry::get<Form1>()->lines())), m_clock(new EventClock(this))
{
    setObjectName(QStringLiteral("Form5"));
    setWindowFlags(Qt::Window);
    setWindowTitle(Port::wiringTitle(0));
    setFont(Look::sansSerif());
    Look::colour(this, Look::kBlack, Look::kOrange);

    Label1 = new QLabel(QStringLiteral("Druhý konec kabelu:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Combo1 = new QComboBox(this);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Label1->setBuddy(Combo1);
    Command1 = new QPushButton(QStringLiteral("Spustit"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setReadOnly(true);
    Text1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

    auto *layout = new QVBoxLayout(this);
    auto *choice = new QHBoxLayout;
    choice->addWidget(Label1);
    choice->addWidget(Combo1, 1);
    choice->addWidget(Command1);
    layout->addLayout(choice);
    layout->addWidget(Text1, 1);
    resize(420, 280);

    connect(Command1, &QAbstractButton::clicked, this, &Form5::Command1_Click);
    // Ending the program takes the windows without a word: no step after.
    connect(this, &Window::unloaded, this, [this] {
        if (m_test) m_test->stop();
    });
}

Form5::~Form5() = default;

void Form5::Form_Load()
{
    setPortTitle(Registry::get<Form1>()->port());
}

void Form5::Form_Unload()
{
    stop();
}

void Form5::setPortTitle(int port)
{
    setWindowTitle(Port::wiringTitle(port));
    stop();
    fillChoice();
}

bool Form5::running() const
{
    return m_test && m_test->running();
}

void Form5::showEvent(QShowEvent *event)
{
    if (!running()) fillChoice();
    Window::showEvent(event);
}

// "žádný (zkušební zástrčka)", then the ports the last probe found, but the
// monitor's own; the choice stays where it can.
void Form5::fillChoice()
{
    const int chosen = Combo1->currentData().toInt();
    const int own = Registry::get<Form1>()->port();
    Combo1->clear();
    Combo1->addItem(QStringLiteral("žádný (zkušební zástrčka)"), 0);
    for (int n = Port::kFirst; n <= Port::kLast; ++n) {
        if (n != own && Port::foundAvailable(n))
            Combo1->addItem(QStringLiteral("COM %1").arg(n), n);
    }
    Combo1->setCurrentIndex(std::max(0, Combo1->findData(chosen)));
}

void Form5::Command1_Click()
{
    Form1 *monitor = Registry::get<Form1>();
    if (running() || monitor->port() == 0) return;
    if (!askYesNo(QStringLiteral("Test přepíná výstupy TxD, DTR a RTS. Zařízení připojené k "
                                 "portu na to může reagovat. Pokračovat?")))
        return;
    m_other = Combo1->currentData().toInt();
    m_test = std::make_unique<WiringTest>(*m_lines, *m_clock, monitor->port(), m_other);
    Command1->setEnabled(false);
    Text1->clear();
    monitor->pause();
    m_test->start([this](const QStringList &result) { finish(result); });
}

void Form5::finish(const QStringList &result)
{
    Text1->setPlainText(result.join(QLatin1Char('\n')));
    restore();
}

// A test still running ends without a result.
void Form5::stop()
{
    if (!running()) return;
    m_test->stop();
    restore();
}

// The outputs as the monitor's toggles show, on both ports; the monitor's
// port current again, and polling.
void Form5::restore()
{
    Form1 *monitor = Registry::get<Form1>();
    if (m_other != 0 && m_lines->select(m_other)) {
        for (int o = 0; o < WiringTest::kOutputCount; ++o)
            m_lines->set(static_cast<WiringTest::Output>(o), monitor->output(o));
    }
    monitor->resume();
    Command1->setEnabled(true);
}
