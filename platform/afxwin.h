// The framework layer in one include, as the dialogs and the application use it.
#pragma once

#include "application.h"
#include "cstring.h"
#include "dialog.h"
#include "message_map.h"
#include "window.h"
