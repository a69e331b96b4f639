#include "tests/support/x_windows.h"

#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

namespace {

struct Connection {
  Connection() : c(xcb_connect(nullptr, nullptr)) {}
  ~Connection() { xcb_disconnect(c); }
  bool ok() const { return xcb_connection_has_error(c) == 0; }
  xcb_connection_t* c;
};

template <class Reply>
using Owned = std::unique_ptr<Reply, decltype(&std::free)>;

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
  Owned<xcb_intern_atom_reply_t> reply(
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr),
      &std::free);
  return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

// The property's bytes; empty when the window has none.
std::string property(xcb_connection_t* c, xcb_window_t window, xcb_atom_t name, xcb_atom_t type) {
  Owned<xcb_get_property_reply_t> reply(
      xcb_get_property_reply(c, xcb_get_property(c, 0, window, name, type, 0, 1024), nullptr),
      &std::free);
  if (!reply) return {};
  const char* bytes = static_cast<const char*>(xcb_get_property_value(reply.get()));
  return std::string(bytes, xcb_get_property_value_length(reply.get()));
}

bool viewable(xcb_connection_t* c, xcb_window_t window) {
  Owned<xcb_get_window_attributes_reply_t> reply(
      xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr),
      &std::free);
  return reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
}

uint32_t findWindow(xcb_connection_t* c, int64_t pid, const std::string& title) {
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  const xcb_atom_t pidAtom = atom(c, "_NET_WM_PID");
  const xcb_atom_t nameAtom = atom(c, "_NET_WM_NAME");
  const xcb_atom_t utf8 = atom(c, "UTF8_STRING");
  Owned<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr),
                                     &std::free);
  if (!tree) return 0;
  const xcb_window_t* children = xcb_query_tree_children(tree.get());
  for (int i = 0; i < xcb_query_tree_children_length(tree.get()); i++) {
    const std::string owner = property(c, children[i], pidAtom, XCB_ATOM_CARDINAL);
    uint32_t ownerPid = 0;
    if (owner.size() != sizeof ownerPid) continue;
    std::memcpy(&ownerPid, owner.data(), sizeof ownerPid);
    if (ownerPid != pid || !viewable(c, children[i])) continue;
    if (property(c, children[i], nameAtom, utf8).rfind(title, 0) == 0) return children[i];
  }
  return 0;
}

}  // namespace

uint32_t WaitForProgramWindow(int64_t pid, const std::string& title, int timeoutMillis) {
  Connection x;
  if (!x.ok()) return 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMillis);
  for (;;) {
    if (const uint32_t window = findWindow(x.c, pid, title)) return window;
    if (std::chrono::steady_clock::now() > end) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

bool AskWindowToClose(uint32_t window) {
  Connection x;
  if (!x.ok()) return false;
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = window;
  message.type = atom(x.c, "WM_PROTOCOLS");
  message.data.data32[0] = atom(x.c, "WM_DELETE_WINDOW");
  message.data.data32[1] = XCB_CURRENT_TIME;
  xcb_send_event(x.c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
  // A round trip: the server has handled the message before this client
  // goes (a request left unread when a client hangs up may be dropped).
  Owned<xcb_get_input_focus_reply_t> sync(
      xcb_get_input_focus_reply(x.c, xcb_get_input_focus(x.c), nullptr), &std::free);
  return sync != nullptr;
}
