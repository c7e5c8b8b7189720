// Moved to tests/support; this name stays while the run-switch benchmark includes it from here.
#pragma once

#include "../support/window_search_win32.h"
