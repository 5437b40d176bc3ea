#include "form4.h"

#include "form1.h"
#include "lintara_version.h"
#include "look.h"
#include "messagebox.h"
#include "ports.h"
#include "timelineview.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace
{

// The scroll bar counts milliseconds from the first port opening.
int milliseconds(std::int64_t microseconds)
{
    return static_cast<int>(std::clamp<std::int64_t>(microseconds / 1000, 0, INT_MAX));
}

} // namespace

Form4::Form4() : m_lines(Registry::get<Form1>()->lines())
{
    setObjectName(QStringLiteral("Form4"));
    setWindowFlags(Qt::Window);
    setWindowTitle(Port::timelineTitle(0));
    setFont(Look::sansSerif());
    Look::colour(this, Look::kBlack, Look::kOrange);

    Picture1 = new TimelineView(m_lines.record(), this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    HScroll1 = new QScrollBar(Qt::Horizontal, this);
    HScroll1->setObjectName(QStringLiteral("HScroll1"));
    Command1 = new QPushButton(QStringLiteral("Uložit…"), this);
    Command1->setObjectName(QStringLiteral("Command1"));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    layout->addWidget(Picture1, 1);
    layout->addWidget(HScroll1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(Command1);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    resize(720, 300);

    auto *save = new QShortcut(QKeySequence::Save, this);
    connect(save, &QShortcut::activated, this, &Form4::Command1_Click);
    connect(Command1, &QAbstractButton::clicked, this, &Form4::Command1_Click);
    connect(HScroll1, &QAbstractSlider::actionTriggered, this,
            [this] { HScroll1_Change(HScroll1->sliderPosition()); });
    connect(HScroll1, &QAbstractSlider::sliderMoved, this, &Form4::HScroll1_Change);
    connect(Picture1, &TimelineView::moved, this, &Form4::showRange);
}

void Form4::Form_Load()
{
    setPortTitle(Registry::get<Form1>()->port());
    showRange();
}

void Form4::setPortTitle(int port)
{
    setWindowTitle(Port::timelineTitle(port));
}

// The scroll bar shows where the view's right edge is in the record. Live,
// its slider stays at the end and only shrinks as the record grows: drawing
// it anew at every frame would cost more than the frames, so it is brought
// up to date once a second then.
void Form4::showRange(bool byUser)
{
    if (!byUser && Picture1->live() && m_barShown.isValid() &&
        !m_barShown.hasExpired(kBarMilliseconds))
        return;
    m_barShown.start();
    const LineRecord &record = m_lines.record();
    const std::int64_t origin = record.originTime();
    const int span = milliseconds(static_cast<std::int64_t>(Picture1->span()));
    const int first = std::min(milliseconds(record.startTime() - origin) + span,
                               milliseconds(LineRecord::now() - origin));
    const QSignalBlocker blocker(HScroll1);
    HScroll1->setRange(first, std::max(first, milliseconds(LineRecord::now() - origin)));
    HScroll1->setPageStep(std::max(1, span));
    HScroll1->setSingleStep(std::max(1, span / 10));
    HScroll1->setValue(Picture1->live() ? HScroll1->maximum()
                                        : milliseconds(Picture1->rightTime() - origin));
}

// The user moved the scroll bar: back in time, or to its end and live again.
void Form4::HScroll1_Change(int value)
{
    if (value >= HScroll1->maximum()) {
        Picture1->setLive();
        return;
    }
    const std::int64_t origin = m_lines.record().originTime();
    Picture1->showUntil(origin + std::int64_t{value} * 1000);
}

void Form4::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_End) {
        Picture1->setLive();
        return;
    }
    Window::keyPressEvent(event);
}

void Form4::Command1_Click()
{
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Uložit průběh"), QString(),
                                     QStringLiteral("Value Change Dump (*.vcd);;CSV (*.csv)"));
    if (!path.isEmpty()) saveTo(path);
}

bool Form4::saveTo(const QString &path)
{
    QString error;
    if (m_lines.saveAs(
            path, Look::kProductName + QLatin1Char(' ') + QStringLiteral(LINTARA_VERSION), error))
        return true;
    showMessage(QStringLiteral("Soubor nelze uložit: %1\n%2").arg(path, error), true);
    return false;
}
