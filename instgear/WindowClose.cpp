#include "WindowClose.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace instgear {

namespace {

// A reparenting window manager puts each client into a frame; the client, the window that
// carries WM_STATE, sits a few levels below the frame.
constexpr int kFrameDepth = 3;
constexpr uint32_t kTitleWords = 4096;  // 16 KiB of title is more than any window has

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> Own(T* p) {
  return Reply<T>(p, &std::free);
}

struct Atoms {
  xcb_atom_t netWmName = XCB_ATOM_NONE;
  xcb_atom_t utf8String = XCB_ATOM_NONE;
  xcb_atom_t wmProtocols = XCB_ATOM_NONE;
  xcb_atom_t wmDeleteWindow = XCB_ATOM_NONE;
  xcb_atom_t wmState = XCB_ATOM_NONE;
};

// Atoms that do not exist yet stay NONE: then no window can have that property.
Atoms InternAtoms(xcb_connection_t* c) {
  const char* names[] = {"_NET_WM_NAME", "UTF8_STRING", "WM_PROTOCOLS", "WM_DELETE_WINDOW",
                         "WM_STATE"};
  xcb_intern_atom_cookie_t cookies[5];
  for (int i = 0; i < 5; ++i)
    cookies[i] = xcb_intern_atom(c, 1, static_cast<uint16_t>(std::strlen(names[i])), names[i]);
  xcb_atom_t got[5];
  for (int i = 0; i < 5; ++i) {
    auto reply = Own(xcb_intern_atom_reply(c, cookies[i], nullptr));
    got[i] = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  }
  return {got[0], got[1], got[2], got[3], got[4]};
}

xcb_get_property_cookie_t AskProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t prop,
                                      uint32_t words) {
  return xcb_get_property(c, 0, w, prop == XCB_ATOM_NONE ? xcb_atom_t{XCB_ATOM_WM_NAME} : prop,
                          XCB_GET_PROPERTY_TYPE_ANY, 0, words);
}

// What the search needs of one window, asked for many windows at once and collected afterwards.
struct Facts {
  bool client = false;  // carries WM_STATE
  std::optional<std::string> title;
};

std::string Latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char ch : text) {
    if (ch < 0x80) {
      out += static_cast<char>(ch);
    } else {
      out += static_cast<char>(0xC0 | (ch >> 6));
      out += static_cast<char>(0x80 | (ch & 0x3F));
    }
  }
  return out;
}

std::vector<Facts> Gather(xcb_connection_t* c, const Atoms& atoms,
                          const std::vector<xcb_window_t>& windows) {
  struct Pending {
    xcb_get_property_cookie_t state, netName, name;
  };
  std::vector<Pending> pending;
  pending.reserve(windows.size());
  for (xcb_window_t w : windows)
    pending.push_back({AskProperty(c, w, atoms.wmState, 0),
                       AskProperty(c, w, atoms.netWmName, kTitleWords),
                       AskProperty(c, w, XCB_ATOM_WM_NAME, kTitleWords)});

  std::vector<Facts> facts(windows.size());
  for (size_t i = 0; i < windows.size(); ++i) {
    // A window that vanished meanwhile answers with an error, which is simply no property.
    auto state = Own(xcb_get_property_reply(c, pending[i].state, nullptr));
    auto netName = Own(xcb_get_property_reply(c, pending[i].netName, nullptr));
    auto name = Own(xcb_get_property_reply(c, pending[i].name, nullptr));
    facts[i].client = atoms.wmState != XCB_ATOM_NONE && state && state->type != XCB_ATOM_NONE;
    auto text = [](const xcb_get_property_reply_t* r) {
      return std::string(static_cast<const char*>(xcb_get_property_value(r)),
                         static_cast<size_t>(xcb_get_property_value_length(r)));
    };
    if (atoms.netWmName != XCB_ATOM_NONE && netName && netName->type != XCB_ATOM_NONE &&
        netName->format == 8) {
      facts[i].title = text(netName.get());
    } else if (name && name->type != XCB_ATOM_NONE && name->format == 8) {
      // STRING is Latin-1; other encodings are taken as they come (their ASCII part matches).
      facts[i].title =
          name->type == XCB_ATOM_STRING ? Latin1ToUtf8(text(name.get())) : text(name.get());
    }
  }
  return facts;
}

// Children of each window, topmost first.
std::vector<std::vector<xcb_window_t>> Children(xcb_connection_t* c,
                                                const std::vector<xcb_window_t>& parents) {
  std::vector<xcb_query_tree_cookie_t> cookies;
  cookies.reserve(parents.size());
  for (xcb_window_t w : parents) cookies.push_back(xcb_query_tree(c, w));
  std::vector<std::vector<xcb_window_t>> result(parents.size());
  for (size_t i = 0; i < parents.size(); ++i) {
    auto tree = Own(xcb_query_tree_reply(c, cookies[i], nullptr));
    if (!tree) continue;
    const xcb_window_t* kids = xcb_query_tree_children(tree.get());
    const int n = xcb_query_tree_children_length(tree.get());
    result[i].assign(kids, kids + n);
    std::reverse(result[i].begin(), result[i].end());  // the server lists bottom to top
  }
  return result;
}

// The client window inside a frame that carries no WM_STATE itself, searched level by level.
std::optional<xcb_window_t> ClientBelow(xcb_connection_t* c, const Atoms& atoms, xcb_window_t frame,
                                        const std::string& title) {
  std::vector<xcb_window_t> level{frame};
  for (int depth = 0; depth < kFrameDepth && !level.empty(); ++depth) {
    std::vector<xcb_window_t> next;
    for (const auto& kids : Children(c, level)) next.insert(next.end(), kids.begin(), kids.end());
    const std::vector<Facts> facts = Gather(c, atoms, next);
    for (size_t i = 0; i < next.size(); ++i)
      if (facts[i].client && facts[i].title == title) return next[i];
    level = std::move(next);
  }
  return std::nullopt;
}

std::optional<xcb_window_t> FindTopLevel(xcb_connection_t* c, const Atoms& atoms,
                                         const std::string& title) {
  std::vector<xcb_window_t> roots;
  for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem > 0; xcb_screen_next(&it))
    roots.push_back(it.data->root);
  for (const auto& tops : Children(c, roots)) {
    const std::vector<Facts> facts = Gather(c, atoms, tops);
    for (size_t i = 0; i < tops.size(); ++i) {
      if (!facts[i].client) {
        if (auto client = ClientBelow(c, atoms, tops[i], title)) return client;
      }
      if (facts[i].title == title) return tops[i];
    }
  }
  return std::nullopt;
}

bool TakesDelete(xcb_connection_t* c, const Atoms& atoms, xcb_window_t w) {
  if (atoms.wmProtocols == XCB_ATOM_NONE || atoms.wmDeleteWindow == XCB_ATOM_NONE) return false;
  auto reply = Own(xcb_get_property_reply(
      c, xcb_get_property(c, 0, w, atoms.wmProtocols, XCB_ATOM_ATOM, 0, 256), nullptr));
  if (!reply || reply->format != 32) return false;
  const auto* list = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
  const int n = xcb_get_property_value_length(reply.get()) / 4;
  for (int i = 0; i < n; ++i)
    if (list[i] == atoms.wmDeleteWindow) return true;
  return false;
}

}  // namespace

CloseResult CloseWindowTitled(const char* title) {
  if (title == nullptr) return CloseResult::NotFound;
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) {
    xcb_disconnect(c);
    return CloseResult::NoDisplay;
  }
  const Atoms atoms = InternAtoms(c);
  CloseResult result = CloseResult::NotFound;
  if (const std::optional<xcb_window_t> w = FindTopLevel(c, atoms, title)) {
    if (!TakesDelete(c, atoms, *w)) {
      result = CloseResult::NotOffered;
    } else {
      xcb_client_message_event_t ev{};
      ev.response_type = XCB_CLIENT_MESSAGE;
      ev.format = 32;
      ev.window = *w;
      ev.type = atoms.wmProtocols;
      ev.data.data32[0] = atoms.wmDeleteWindow;
      ev.data.data32[1] = XCB_CURRENT_TIME;
      static_assert(sizeof(ev) == 32);
      // Checked, so the answer says whether the server delivered it.
      xcb_generic_error_t* error =
          xcb_request_check(c, xcb_send_event_checked(c, 0, *w, XCB_EVENT_MASK_NO_EVENT,
                                                      reinterpret_cast<const char*>(&ev)));
      result = error == nullptr ? CloseResult::Sent : CloseResult::Failed;
      std::free(error);
    }
  }
  xcb_disconnect(c);
  return result;
}

}  // namespace instgear
