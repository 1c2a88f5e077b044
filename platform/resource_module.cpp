#include "resource_module.h"

namespace {
const HINSTANCE* g_module = nullptr;
}  // namespace

void RegisterResourceModule(const HINSTANCE* module) { g_module = module; }

HINSTANCE AfxFindResourceHandle(const wchar_t*, const wchar_t*) {
  return g_module != nullptr && *g_module != nullptr ? *g_module : ::GetModuleHandleW(nullptr);
}
