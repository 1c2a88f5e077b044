#include "window.h"

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
  result = 0;
  if (const auto* handler = std::get_if<VoidHandler>(&entry->handler)) {
    (this->**handler)();
  } else if (const auto* sysCommand = std::get_if<SysCommandHandler>(&entry->handler)) {
    (this->**sysCommand)(static_cast<UINT>(wParam), lParam);
  } else if (const auto* dragIcon = std::get_if<QueryDragIconHandler>(&entry->handler)) {
    result = reinterpret_cast<LRESULT>((this->**dragIcon)());
  } else if (const auto* helpInfo = std::get_if<HelpInfoHandler>(&entry->handler)) {
    auto* info = reinterpret_cast<HELPINFO*>(lParam);  // NOLINT(performance-no-int-to-ptr): WM_HELP's HELPINFO
    result = (this->**helpInfo)(info);
  }
  const bool handled = !m_defaultRequested;
  m_defaultRequested = outerRequest;
  return handled;
}
