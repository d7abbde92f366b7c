#pragma once

// The benches reach the sway session by this name.
#include "support/headless_desktop.h"
