// The framework layer in one include, as the dialogs and the application use it.
// Its rooms, each built on those below it: the resource module and CString;
// message maps; CWnd; the application; CDialog, which the application runs.
#pragma once

#include "application.h"
#include "cstring.h"
#include "dialog.h"
#include "message_map.h"
#include "resource_module.h"
#include "window.h"
