#pragma once

#include "app/command_line.h"

namespace vak {

// The microphone modes: --devices, --av-test and --mic-check; each returns the exit status.
int runDevicesMode(const CliInvocation& invocation);
int runAvTestMode(const CliInvocation& invocation);
int runMicCheckMode(const CliInvocation& invocation);

} // namespace vak
