// The monitor's blinking indicator on a real X server (the test runs under
// Xvfb): what the server shows is the colour of the last tick, through
// hiding and showing and a new native window; where the build draws the fill
// on the server, that fill window is there, under the monitor's own window;
// and no control of the monitor is given a native window of its own.
//
// LINTARA_EXPECT_SERVER_FILL=1 in the environment says that the build draws
// the fill on the server; otherwise the bar must paint it.
#include "form1.h"
#include "harness.h"
#include "look.h"
#include "widgets.h"

#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace
{

xcb_connection_t *connection()
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->connection() : nullptr;
}

template <class T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

struct ChildWindow {
    xcb_window_t id;
    QRect geometry;
    bool viewable;
};

// The X windows the server has under `parent`, as the server has them.
QList<ChildWindow> childWindows(WId parent)
{
    xcb_connection_t *c = connection();
    QList<ChildWindow> found;
    Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(c, xcb_query_tree(c, static_cast<xcb_window_t>(parent)), nullptr),
        &std::free);
    if (!tree) return found;
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        Reply<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(c, xcb_get_geometry(c, children[i]), nullptr), &std::free);
        Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr),
            &std::free);
        if (!geometry || !attributes) continue;
        found.push_back({children[i],
                         QRect(geometry->x, geometry->y, geometry->width, geometry->height),
                         attributes->map_state == XCB_MAP_STATE_VIEWABLE});
    }
    return found;
}

} // namespace

class TestIndicator : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase() { h.reset(); }

    void barShowsEachTick();
    void hidingTheBarUncoversTheWindow();
    void hiddenAndShownAgain();
    void newNativeWindow_data();
    void newNativeWindow();
    void noControlIsNative();

private:
    Form1 *monitor() { return Registry::get<Form1>(); }
    IndicatorBar *bar() { return child<IndicatorBar>(monitor(), "Shape1"); }
    // The monitor's X window. (QWidget::winId() may lag behind a new one.)
    WId xWindow() { return monitor()->windowHandle()->winId(); }
    int reads() { return h.fake.count(QStringLiteral("DCD")); }

    bool tick();
    QRect fillPixels();
    QImage onScreen();
    bool showsFill(const QColor &fill);
    void checkFillWindow();
    void checkBothPhases();

    Harness h;
    bool m_serverFill = false;
};

void TestIndicator::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QVERIFY(connection() != nullptr);
    m_serverFill = qgetenv("LINTARA_EXPECT_SERVER_FILL") == "1";
}

void TestIndicator::init()
{
    h.reset();
    Registry::show(monitor());
    QVERIFY(QTest::qWaitForWindowExposed(monitor()));
    // Ticks only when a test lets it.
    monitor()->setInterval(10000);
}

// Lets the monitor tick once more, then holds its timer.
bool TestIndicator::tick()
{
    const int before = reads();
    monitor()->setInterval(10);
    const bool ticked = QTest::qWaitFor([&] { return reads() > before; }, 2000);
    monitor()->setInterval(10000);
    return ticked;
}

// The fill, inside the bar's one-pixel border, in the device pixels of the
// monitor's X window.
QRect TestIndicator::fillPixels()
{
    const qreal ratio = monitor()->devicePixelRatioF();
    const QRect area = bar()->geometry().adjusted(1, 1, -1, -1);
    return QRect(qRound(area.x() * ratio), qRound(area.y() * ratio), qRound(area.width() * ratio),
                 qRound(area.height() * ratio));
}

// The bar as the X server shows it, in device pixels.
QImage TestIndicator::onScreen()
{
    const QRect area = bar()->geometry();
    return monitor()
        ->screen()
        ->grabWindow(xWindow(), area.x(), area.y(), area.width(), area.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// The server shows `fill` over the whole fill, up to its corners, and the
// bar's border, a pixel wide, around it.
bool TestIndicator::showsFill(const QColor &fill)
{
    const QImage image = onScreen();
    const int inset = qRound(monitor()->devicePixelRatioF());
    const int right = image.width() - 1 - inset, bottom = image.height() - 1 - inset;
    const int middle = image.height() / 2;
    const QPoint inside[] = {{inset, inset},
                             {right, inset},
                             {inset, bottom},
                             {right, bottom},
                             {image.width() / 2, middle}};
    for (const QPoint &p : inside) {
        if (image.pixelColor(p) != fill) return false;
    }
    const int border[] = {0, inset - 1, image.width() - inset, image.width() - 1};
    for (int x : border) {
        if (image.pixelColor(x, middle) != Look::kBrown) return false;
    }
    return true;
}

// Where the build draws the fill on the server, the fill window is the one
// window under the monitor's, in place and viewable; otherwise there is none.
void TestIndicator::checkFillWindow()
{
    const QList<ChildWindow> children = childWindows(xWindow());
    QCOMPARE(bar()->serverFilled(), m_serverFill);
    if (!m_serverFill) {
        QVERIFY(children.isEmpty());
        return;
    }
    QCOMPARE(children.size(), 1);
    QCOMPARE(children[0].geometry, fillPixels());
    QVERIFY(children[0].viewable);
}

// A tick to each colour: one of the two is not what the bar last painted.
void TestIndicator::checkBothPhases()
{
    for (int i = 0; i < 2; ++i) {
        QVERIFY(tick());
        const QColor fill = bar()->fillColor();
        QTRY_VERIFY2(showsFill(fill), qPrintable(fill.name()));
    }
}

void TestIndicator::barShowsEachTick()
{
    QTRY_VERIFY(showsFill(Look::kDarkRed)); // before the first tick
    checkFillWindow();
    QSet<QRgb> seen;
    for (int i = 0; i < 4; ++i) {
        QVERIFY(tick());
        const QColor fill = bar()->fillColor();
        QTRY_VERIFY2(showsFill(fill), qPrintable(fill.name()));
        seen << fill.rgb();
    }
    QCOMPARE(seen, QSet<QRgb>({Look::kDarkOrange.rgb(), Look::kDarkRed.rgb()}));
    checkFillWindow();
}

void TestIndicator::hidingTheBarUncoversTheWindow()
{
    QVERIFY(tick());
    bar()->hide();
    const QRect area = bar()->geometry();
    QTRY_COMPARE(onScreen().pixelColor(area.width() / 2, area.height() / 2), Look::kBlack);
    QVERIFY(tick());
    QCOMPARE(onScreen().pixelColor(area.width() / 2, area.height() / 2), Look::kBlack);
    bar()->show();
    QTRY_VERIFY(showsFill(bar()->fillColor()));
    checkFillWindow();
    checkBothPhases();
}

void TestIndicator::hiddenAndShownAgain()
{
    QVERIFY(tick());
    monitor()->hide();
    QVERIFY(tick()); // the monitor polls while hidden
    Registry::show(monitor());
    QVERIFY(QTest::qWaitForWindowExposed(monitor()));
    QTRY_VERIFY(showsFill(bar()->fillColor()));
    checkFillWindow();
    checkBothPhases();
}

void TestIndicator::newNativeWindow_data()
{
    QTest::addColumn<bool>("viaFlags");
    // Qt destroys the X window, and makes another when the monitor is shown.
    QTest::newRow("window destroyed") << false;
    // Qt makes another X window when this flag changes, and tells the widget
    // nothing of it.
    QTest::newRow("window flags changed") << true;
}

void TestIndicator::newNativeWindow()
{
    QFETCH(bool, viaFlags);
    QVERIFY(tick());
    const WId before = xWindow();
    if (viaFlags)
        monitor()->setWindowFlags(monitor()->windowFlags() ^ Qt::WindowStaysOnTopHint);
    else
        monitor()->windowHandle()->destroy();
    QCOMPARE(monitor()->internalWinId(), WId(0));
    monitor()->hide();
    Registry::show(monitor());
    QVERIFY(QTest::qWaitForWindowExposed(monitor()));
    QVERIFY(xWindow() != before);
    QTRY_VERIFY(showsFill(bar()->fillColor()));
    checkBothPhases();
    checkFillWindow();
}

// A native control would make Qt give every sibling a native window as well.
void TestIndicator::noControlIsNative()
{
    QVERIFY(tick());
    const QList<QWidget *> controls = monitor()->findChildren<QWidget *>();
    QVERIFY(controls.size() >= 16);
    for (const QWidget *w : controls) {
        QVERIFY2(!w->testAttribute(Qt::WA_NativeWindow), qPrintable(w->objectName()));
        QVERIFY2(w->internalWinId() == 0, qPrintable(w->objectName()));
    }
    QVERIFY(!QCoreApplication::testAttribute(Qt::AA_NativeWindows));
}

QTEST_MAIN(TestIndicator)
#include "test_indicator.moc"
