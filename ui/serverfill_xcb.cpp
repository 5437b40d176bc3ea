// X11: the fill is a child window of the widget's own; the server paints it
// in its background colour.
#include "serverfill.h"

#include <QGuiApplication>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

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

class XcbFill final : public ServerFill
{
public:
    XcbFill(xcb_connection_t *connection, xcb_window_t window, const xcb_visualtype_t &visual)
        : m_connection(connection), m_window(window), m_visual(visual)
    {
    }

    ~XcbFill() override
    {
        xcb_destroy_window(m_connection, m_window);
        xcb_flush(m_connection);
    }

    std::uint32_t pixel(const QColor &c) const
    {
        return channel(c.red(), m_visual.red_mask) | channel(c.green(), m_visual.green_mask) |
               channel(c.blue(), m_visual.blue_mask);
    }

    void setColour(const QColor &colour) override
    {
        const std::uint32_t value = pixel(colour);
        xcb_change_window_attributes(m_connection, m_window, XCB_CW_BACK_PIXEL, &value);
        xcb_clear_area(m_connection, 0, m_window, 0, 0, 0, 0);
        xcb_flush(m_connection);
    }

private:
    xcb_connection_t *m_connection;
    xcb_window_t m_window;
    xcb_visualtype_t m_visual;
};

} // namespace

std::unique_ptr<ServerFill> ServerFill::create(QWidget *widget, const QRect &area,
                                               const QColor &colour)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 != nullptr ? x11->connection() : nullptr;
    if (connection == nullptr) return nullptr;

    widget->setAttribute(Qt::WA_NativeWindow);
    const auto parent = static_cast<xcb_window_t>(widget->winId());
    xcb_get_window_attributes_reply_t *attributes = xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, parent), nullptr);
    if (attributes == nullptr) return nullptr;
    const xcb_visualtype_t *visual = visualOf(connection, attributes->visual);
    std::free(attributes);
    if (visual == nullptr || visual->_class != XCB_VISUAL_CLASS_TRUE_COLOR) return nullptr;

    const qreal ratio = widget->devicePixelRatioF();
    const QRect pixels(qRound(area.x() * ratio), qRound(area.y() * ratio),
                       qRound(area.width() * ratio), qRound(area.height() * ratio));
    const xcb_window_t window = xcb_generate_id(connection);
    auto fill = std::make_unique<XcbFill>(connection, window, *visual);
    const std::uint32_t background = fill->pixel(colour);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, parent,
                      static_cast<int16_t>(pixels.x()), static_cast<int16_t>(pixels.y()),
                      static_cast<uint16_t>(pixels.width()), static_cast<uint16_t>(pixels.height()),
                      0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL,
                      &background);
    xcb_map_window(connection, window);
    xcb_flush(connection);
    return fill;
}
