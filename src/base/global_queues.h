#pragma once

#include "base/executor.h"

namespace vak {

enum class QoS { UserInitiated, Default, Utility };

// The process-wide concurrent queues. Each grows a thread whenever all of its threads are busy,
// so work that blocks waiting on other work of the same queue (a decode race waiting on its two
// engines) cannot starve; idle threads go away after a few seconds.
// The queues live until the process ends.
Executor& globalQueue(QoS qos);

} // namespace vak
