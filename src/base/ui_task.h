// The old name of ui_task_win32.h, kept while the crash reporter still includes it by that name.
#pragma once

#include "base/ui_task_win32.h"
