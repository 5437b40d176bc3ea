// X11: the fill is a child window of the widget's top-level window, whose X
// window exists anyway, so that no widget has to be made native for it (a
// native widget makes Qt give its siblings native windows too). The server
// paints the child in its background colour.
//
// Qt knows nothing of the child, so the fill follows the widget itself: its
// place in the top-level (in device pixels), whether it is shown, and the
// top-level's X window, which Qt may destroy and create anew, taking the
// child with it. Whenever the child cannot be made, the widget paints.
#include "serverfill.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPlatformSurfaceEvent>
#include <QPointer>
#include <QRect>
#include <QVector>
#include <QWidget>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace
{

// A colour channel (0 ... 255) placed under a visual's mask.
std::uint32_t channel(int value, std::uint32_t mask)
{
    if (mask == 0) return 0;
    int shift = 0;
    while ((mask >> shift & 1U) == 0)
        ++shift;
    const std::uint32_t top = mask >> shift;
    return ((static_cast<std::uint32_t>(value) * top + 127) / 255) << shift;
}

const xcb_visualtype_t *visualOf(xcb_connection_t *connection, xcb_visualid_t id)
{
    for (auto screen = xcb_setup_roots_iterator(xcb_get_setup(connection)); screen.rem;
         xcb_screen_next(&screen)) {
        for (auto depth = xcb_screen_allowed_depths_iterator(screen.data); depth.rem;
             xcb_depth_next(&depth)) {
            for (auto visual = xcb_depth_visuals_iterator(depth.data); visual.rem;
                 xcb_visualtype_next(&visual)) {
                if (visual.data->visual_id == id) return visual.data;
            }
        }
    }
    return nullptr;
}

// Events after which the fill may have to move: the widget's or an
// ancestor's geometry, or the scale of the screen the window is on.
bool movesFill(QEvent::Type type)
{
    switch (type) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::ScreenChangeInternal:
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    case QEvent::DevicePixelRatioChange:
#endif
        return true;
    default:
        return false;
    }
}

class XcbFill final : public QObject, public ServerFill
{
public:
    XcbFill(QWidget *widget, xcb_connection_t *connection, int inset, const QColor &colour)
        : m_widget(widget), m_connection(connection), m_inset(inset), m_colour(colour)
    {
        watch();
        if (m_widget->isVisible()) attach();
    }

    ~XcbFill() override
    {
        // The connection goes with the application.
        if (qGuiApp != nullptr) detach();
    }

    bool active() const override { return m_window != XCB_NONE && m_parent == topWindow(); }

    bool setColour(const QColor &colour) override
    {
        m_colour = colour;
        if (m_window != XCB_NONE && m_parent != topWindow()) renew();
        if (m_window == XCB_NONE) return false;
        const std::uint32_t value = pixel(colour);
        xcb_change_window_attributes(m_connection, m_window, XCB_CW_BACK_PIXEL, &value);
        xcb_clear_area(m_connection, 0, m_window, 0, 0, 0, 0);
        xcb_flush(m_connection);
        return true;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if (type == QEvent::ParentChange) {
            // Another ancestry, perhaps another top-level.
            watch();
            renew();
        } else if (type == QEvent::PlatformSurface && watched == m_widget->window() &&
                   static_cast<QPlatformSurfaceEvent *>(event)->surfaceEventType() ==
                       QPlatformSurfaceEvent::SurfaceAboutToBeDestroyed) {
            // Gone with the top-level's X window in a moment.
            detach();
            m_widget->update();
        } else if (type == QEvent::WinIdChange) {
            // The top-level's X window was destroyed, and with it the fill,
            // or replaced by another; or a widget on the way became native,
            // and its window would cover the fill.
            renew();
        } else if (watched == m_widget && type == QEvent::Show && m_window == XCB_NONE) {
            attach();
        } else if (movesFill(type) ||
                   (watched == m_widget &&
                    (type == QEvent::Show || type == QEvent::Hide || type == QEvent::Paint))) {
            // A change of the scale repaints the widget: its paint is a cue
            // too, on Qt versions that have no event for it.
            follow();
        }
        return false;
    }

private:
    std::uint32_t pixel(const QColor &c) const
    {
        return channel(c.red(), m_visual.red_mask) | channel(c.green(), m_visual.green_mask) |
               channel(c.blue(), m_visual.blue_mask);
    }

    // The widget and every ancestor up to its top-level.
    void watch()
    {
        for (const QPointer<QWidget> &w : m_watched) {
            if (w) w->removeEventFilter(this);
        }
        m_watched.clear();
        for (QWidget *w = m_widget; w != nullptr; w = w->parentWidget()) {
            w->installEventFilter(this);
            m_watched.push_back(w);
            if (w->isWindow()) break;
        }
    }

    // The fill's place in the top-level's X window, in device pixels.
    QRect pixels() const
    {
        const QWidget *top = m_widget->window();
        const QRect area = QRect(m_widget->mapTo(top, QPoint(0, 0)), m_widget->size())
                               .adjusted(m_inset, m_inset, -m_inset, -m_inset);
        const qreal ratio = top->devicePixelRatioF();
        const auto device = [ratio](int v) { return static_cast<int>(std::lround(v * ratio)); };
        return QRect(
            QPoint(device(area.left()), device(area.top())),
            QPoint(device(area.left() + area.width()) - 1, device(area.top() + area.height()) - 1));
    }

    // The top-level's X window as it is now. Qt may make the top-level a new
    // X window without telling its widget (Qt 6.4 does when a window flag
    // such as Qt::WindowStaysOnTopHint changes): the widget's winId() then
    // names the old one, and the fill went with it.
    xcb_window_t topWindow() const
    {
        const QWindow *window = m_widget->window()->windowHandle();
        return window != nullptr && window->handle() != nullptr
                   ? static_cast<xcb_window_t>(window->winId())
                   : XCB_NONE;
    }

    // Makes the fill under the top-level's X window, if it has one; without a
    // fill the widget paints.
    void attach()
    {
        const xcb_window_t parent = topWindow();
        if (parent != XCB_NONE && !create(parent)) m_widget->update();
    }

    bool create(xcb_window_t parent)
    {
        xcb_get_window_attributes_reply_t *attributes = xcb_get_window_attributes_reply(
            m_connection, xcb_get_window_attributes(m_connection, parent), nullptr);
        if (attributes == nullptr) return false;
        const xcb_visualtype_t *visual = visualOf(m_connection, attributes->visual);
        std::free(attributes);
        if (visual == nullptr || visual->_class != XCB_VISUAL_CLASS_TRUE_COLOR) return false;
        m_visual = *visual;

        // Made unmapped with a size of at least a pixel; follow() maps it.
        const QRect area = pixels();
        const xcb_window_t window = xcb_generate_id(m_connection);
        const std::uint32_t background = pixel(m_colour);
        const xcb_void_cookie_t made = xcb_create_window_checked(
            m_connection, XCB_COPY_FROM_PARENT, window, parent, static_cast<int16_t>(area.x()),
            static_cast<int16_t>(area.y()), static_cast<uint16_t>(qMax(area.width(), 1)),
            static_cast<uint16_t>(qMax(area.height(), 1)), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
            XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL, &background);
        xcb_generic_error_t *error = xcb_request_check(m_connection, made);
        if (error != nullptr) {
            std::free(error);
            return false;
        }
        m_window = window;
        m_parent = parent;
        m_area = area;
        m_mapped = false;
        follow();
        return true;
    }

    // Destroys the fill. When the top-level's X window went before, the fill
    // went with it, and the error this request then brings is dropped.
    void detach()
    {
        if (m_window == XCB_NONE) return;
        xcb_discard_reply(m_connection,
                          xcb_destroy_window_checked(m_connection, m_window).sequence);
        xcb_flush(m_connection);
        m_window = XCB_NONE;
    }

    void renew()
    {
        detach();
        if (m_widget->isVisible()) attach();
        if (m_window == XCB_NONE) m_widget->update();
    }

    // Moves the fill to where the widget is now, and shows it as the widget is.
    void follow()
    {
        if (m_window == XCB_NONE) return;
        if (m_parent != topWindow()) {
            renew();
            return;
        }
        const QRect area = pixels();
        const bool shown = m_widget->isVisible() && !area.isEmpty();
        bool sent = false;
        if (!area.isEmpty() && area != m_area) {
            const std::uint32_t values[] = {static_cast<std::uint32_t>(area.x()),
                                            static_cast<std::uint32_t>(area.y()),
                                            static_cast<std::uint32_t>(area.width()),
                                            static_cast<std::uint32_t>(area.height())};
            xcb_configure_window(m_connection, m_window,
                                 XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y |
                                     XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                                 values);
            m_area = area;
            sent = true;
        }
        if (shown != m_mapped) {
            if (shown)
                xcb_map_window(m_connection, m_window);
            else
                xcb_unmap_window(m_connection, m_window);
            m_mapped = shown;
            sent = true;
        }
        if (sent) xcb_flush(m_connection);
    }

    QWidget *m_widget;
    xcb_connection_t *m_connection;
    int m_inset;
    QColor m_colour;
    QVector<QPointer<QWidget>> m_watched;
    xcb_window_t m_window = XCB_NONE;
    xcb_window_t m_parent = XCB_NONE;
    xcb_visualtype_t m_visual{};
    QRect m_area; // where the fill window is, in the top-level's pixels
    bool m_mapped = false;
};

} // namespace

std::unique_ptr<ServerFill> ServerFill::create(QWidget *widget, int inset, const QColor &colour)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 != nullptr ? x11->connection() : nullptr;
    if (connection == nullptr) return nullptr;
    return std::make_unique<XcbFill>(widget, connection, inset, colour);
}
