#include "window.h"

namespace {

// The calls of a visit, one lambda for each alternative.
template <typename... Calls>
struct Overloaded : Calls... {
  using Calls::operator()...;
};
template <typename... Calls>
Overloaded(Calls...) -> Overloaded<Calls...>;

}  // namespace

BOOL CWnd::DestroyWindow() {
  if (m_hWnd == nullptr) return FALSE;
  return ::DestroyWindow(m_hWnd);
}

LRESULT CWnd::Default() {
  m_defaultRequested = true;
  return 0;
}

bool CWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  const MessageMapEntry* entry = FindMessageEntry(message, 0);
  if (entry == nullptr) return false;

  // A handler may run a nested modal loop that handles further messages for
  // this window; each keeps its own request for default processing.
  const bool outerRequest = m_defaultRequested;
  m_defaultRequested = false;
  // One call for each shape a handler may have: a shape added without its
  // call leaves the visit without an overload, and does not compile.
  result = std::visit(
      Overloaded{
          [this](VoidHandler handler) -> LRESULT {
            (this->*handler)();
            return 0;
          },
          [&](SysCommandHandler handler) -> LRESULT {
            (this->*handler)(static_cast<UINT>(wParam), lParam);
            return 0;
          },
          [this](QueryDragIconHandler handler) { return reinterpret_cast<LRESULT>((this->*handler)()); },
          [&](HelpInfoHandler handler) -> LRESULT {
            auto* info = reinterpret_cast<HELPINFO*>(lParam);  // NOLINT(performance-no-int-to-ptr): WM_HELP's HELPINFO
            return (this->*handler)(info);
          },
      },
      entry->handler);
  const bool handled = !m_defaultRequested;
  m_defaultRequested = outerRequest;
  return handled;
}
