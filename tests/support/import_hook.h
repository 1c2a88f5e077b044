// Swaps, in this test program's own import table, the address of one function
// it imports, and swaps it back on destruction: a way to watch what the code
// under test asks of Windows where the result cannot be seen on the screen.
#pragma once

#include <windows.h>

#include <cstring>

namespace testing_support {

class ImportHook {
 public:
  ImportHook(const char* dll, const char* function, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(::GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); module->Name;
         ++module) {
      if (_stricmp(reinterpret_cast<const char*>(base + module->Name), dll) != 0) continue;
      auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
      auto* addresses = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
      for (; names->u1.AddressOfData; ++names, ++addresses) {
        if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
        const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
        if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
        m_slot = &addresses->u1.Function;
        m_original = reinterpret_cast<void*>(*m_slot);
        Write(reinterpret_cast<decltype(addresses->u1.Function)>(replacement));
        return;
      }
    }
  }
  ~ImportHook() {
    if (m_slot) Write(reinterpret_cast<decltype(IMAGE_THUNK_DATA{}.u1.Function)>(m_original));
  }
  ImportHook(const ImportHook&) = delete;
  ImportHook& operator=(const ImportHook&) = delete;

  bool installed() const { return m_slot != nullptr; }
  void* original() const { return m_original; }

 private:
  template <typename Value>
  void Write(Value value) {
    DWORD protection = 0;
    ::VirtualProtect(m_slot, sizeof *m_slot, PAGE_READWRITE, &protection);
    *m_slot = value;
    ::VirtualProtect(m_slot, sizeof *m_slot, protection, &protection);
  }

  decltype(IMAGE_THUNK_DATA{}.u1.Function) * m_slot = nullptr;
  void* m_original = nullptr;
};

}  // namespace testing_support
