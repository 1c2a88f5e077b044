// The module that resources come from. It sits below every other room of the
// framework, so that texts and dialogs find their resources without knowing
// the application object, which only says where it keeps its module.
#pragma once

#include <windows.h>

// The module holding a resource; a program on this framework is one module.
HINSTANCE AfxFindResourceHandle(const wchar_t* name, const wchar_t* type);

// Where the application keeps its module handle (null: nowhere). Until the
// handle is set, resources come from the executable.
void RegisterResourceModule(const HINSTANCE* module);
