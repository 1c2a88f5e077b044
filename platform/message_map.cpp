#include "message_map.h"

const MessageMap* CCmdTarget::GetThisMessageMap() {
  static constexpr MessageMapEntry kEntries[] = {MessageMapEntry{0, 0, VoidHandler{}}};
  static constexpr MessageMap kMap{nullptr, kEntries};
  return &kMap;
}

const MessageMap* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

const MessageMapEntry* CCmdTarget::FindMessageEntry(UINT message, UINT id) const {
  for (const MessageMap* map = GetMessageMap(); map != nullptr; map = map->base ? map->base() : nullptr) {
    for (const MessageMapEntry* entry = map->entries; entry->message != 0; ++entry) {
      if (entry->message == message && entry->id == id) return entry;
    }
  }
  return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT id) {
  const MessageMapEntry* entry = FindMessageEntry(WM_COMMAND, id);
  const VoidHandler* handler = entry != nullptr ? std::get_if<VoidHandler>(&entry->handler) : nullptr;
  if (handler == nullptr) return FALSE;
  (this->**handler)();
  return TRUE;
}
