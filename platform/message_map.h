// Static message maps, as MFC spells them: each class lists the messages it
// handles in a constant table that chains to its base class's table. The
// tables are plain data; dispatch walks them in CCmdTarget and CWnd.
#pragma once

#include <windows.h>

#include <variant>

class CCmdTarget;

// The handler shapes the maps use. A class's handler is stored as a pointer to
// a member of CCmdTarget (a static_cast up the single-inheritance chain, which
// C++ allows) and called on the same object it was found for.
using VoidHandler = void (CCmdTarget::*)();
using SysCommandHandler = void (CCmdTarget::*)(UINT, LPARAM);
using QueryDragIconHandler = HCURSOR (CCmdTarget::*)();
using HelpInfoHandler = BOOL (CCmdTarget::*)(HELPINFO*);
using MessageHandler = std::variant<VoidHandler, SysCommandHandler, QueryDragIconHandler, HelpInfoHandler>;

struct MessageMapEntry {
  UINT message;  // WM_COMMAND for command entries
  UINT id;       // the command identifier; 0 for other messages
  MessageHandler handler;
};

struct MessageMap {
  const MessageMap* (*base)();     // null at the root
  const MessageMapEntry* entries;  // ends with an entry whose message is 0
};

// clang-format off
#define DECLARE_MESSAGE_MAP()                                                      \
 public:                                                                           \
  static const MessageMap* GetThisMessageMap();                                    \
  const MessageMap* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                      \
  const MessageMap* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
  const MessageMap* theClass::GetThisMessageMap() {                                 \
    using ThisClass [[maybe_unused]] = theClass;                                    \
    using TheBaseClass = baseClass;                                                 \
    static constexpr MessageMapEntry kEntries[] = {

// Like MFC, a table ends with an all-zero entry, so an empty map is valid too.
#define END_MESSAGE_MAP()                                                          \
      MessageMapEntry{0, 0, VoidHandler{}}};                                       \
    static constexpr MessageMap kMap{&TheBaseClass::GetThisMessageMap, kEntries};  \
    return &kMap;                                                                  \
  }

#define ON_COMMAND(id, memberFxn) \
  MessageMapEntry{WM_COMMAND, (id), static_cast<VoidHandler>(&memberFxn)}, /* NOLINT(bugprone-macro-parentheses): &(C::m) is no member pointer */
#define ON_WM_PAINT() \
  MessageMapEntry{WM_PAINT, 0, static_cast<VoidHandler>(&ThisClass::OnPaint)},
#define ON_WM_SYSCOMMAND() \
  MessageMapEntry{WM_SYSCOMMAND, 0, static_cast<SysCommandHandler>(&ThisClass::OnSysCommand)},
#define ON_WM_QUERYDRAGICON() \
  MessageMapEntry{WM_QUERYDRAGICON, 0, static_cast<QueryDragIconHandler>(&ThisClass::OnQueryDragIcon)},
#define ON_WM_HELPINFO() \
  MessageMapEntry{WM_HELP, 0, static_cast<HelpInfoHandler>(&ThisClass::OnHelpInfo)},
// clang-format on

// The root of every chain: finds entries and runs command handlers.
class CCmdTarget {
 public:
  virtual ~CCmdTarget() = default;

  static const MessageMap* GetThisMessageMap();
  virtual const MessageMap* GetMessageMap() const;

  // Runs the handler for a command, if this object's chain has one.
  virtual BOOL OnCmdMsg(UINT id);

 protected:
  const MessageMapEntry* FindMessageEntry(UINT message, UINT id) const;
};
