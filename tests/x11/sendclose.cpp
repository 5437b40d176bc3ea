// Asks an X window to close as a window manager does when its close button
// is clicked: a WM_PROTOCOLS client message naming WM_DELETE_WINDOW. The
// real-window check has no window manager, so it sends this itself.
//
//   sendclose WINDOW
//
// Exit status: 0 sent, 1 the display or the window is not there, 2 usage.
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

xcb_atom_t atom(xcb_connection_t *connection, const char *name)
{
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
        nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

} // namespace

int main(int argc, char **argv)
{
    char *end = nullptr;
    const unsigned long window = argc == 2 ? std::strtoul(argv[1], &end, 0) : 0;
    if (window == 0 || *end != '\0') {
        std::fprintf(stderr, "usage: sendclose WINDOW\n");
        return 2;
    }
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection) != 0) {
        std::fprintf(stderr, "sendclose: cannot open the display\n");
        xcb_disconnect(connection);
        return 1;
    }

    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = static_cast<xcb_window_t>(window);
    event.type = atom(connection, "WM_PROTOCOLS");
    event.data.data32[0] = atom(connection, "WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_generic_error_t *error = xcb_request_check(
        connection, xcb_send_event_checked(connection, 0, event.window, XCB_EVENT_MASK_NO_EVENT,
                                           reinterpret_cast<const char *>(&event)));
    const int status = error == nullptr ? 0 : 1;
    if (error != nullptr)
        std::fprintf(stderr, "sendclose: no window %#lx (X error %d)\n", window, error->error_code);
    std::free(error);
    xcb_disconnect(connection);
    return status;
}
