#pragma once

#include "app/command_line.h"

namespace vak {

// The single-stage command-line modes; each returns the process exit status.
int runDevicesMode(const CliInvocation& invocation);
int runAvTestMode(const CliInvocation& invocation);

} // namespace vak
