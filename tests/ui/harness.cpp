#include "harness.h"

#include "startup.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTest>

BoxAnswerer::BoxAnswerer(int delay) : m_delay(delay)
{
    connect(&m_timer, &QTimer::timeout, this, &BoxAnswerer::look);
    m_timer.start(5);
}

QStringList BoxAnswerer::texts() const
{
    QStringList result;
    for (const Box &b : boxes)
        result << b.text;
    return result;
}

void BoxAnswerer::look()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (box == nullptr || box->property("answered").toBool()) return;
    box->setProperty("answered", true);
    boxes.push_back(
        {box->windowTitle(), box->text(), box->icon(), static_cast<int>(box->buttons().size())});
    QTimer::singleShot(m_delay, box, [box] { box->button(QMessageBox::Ok)->click(); });
}

bool whileModal(const std::function<void()> &open, const std::function<void(Window *)> &action,
                int limit)
{
    bool seen = false;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        // Runs in the modal window's own event loop, inside `open`.
        if (auto *window = qobject_cast<Window *>(QApplication::activeModalWidget())) {
            poll.stop();
            seen = true;
            action(window);
            window->close();
        } else if (clock.elapsed() > limit) {
            poll.stop();
            if (QWidget *other = QApplication::activeModalWidget()) other->close();
        }
    });
    poll.start(5);
    open();
    // A window that comes up after `open` has returned; the poll ends itself.
    const bool ended = QTest::qWaitFor([&] { return !poll.isActive(); }, limit + 1000);
    return seen && ended;
}

Harness::Harness()
{
    Startup::prepare();
    Registry::setProgramEnd([this] { ++programEnds; });
}

void Harness::reset()
{
    Registry::endProgram();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    fake.reset();
    programEnds = 0;
}

QRadioButton *portOption(QWidget *window, int port)
{
    return window->findChild<QRadioButton *>(QStringLiteral("Option%1").arg(port));
}

bool hasProgramIcon(const QWidget *window)
{
    const QImage icon(QStringLiteral(":/lintara/lintara.png"));
    return !icon.isNull() && window->windowIcon()
                                     .pixmap(icon.size())
                                     .toImage()
                                     .convertToFormat(QImage::Format_ARGB32) ==
                                 icon.convertToFormat(QImage::Format_ARGB32);
}
