#pragma once

#include <istream>
#include <ostream>

namespace vak {

// --format-stdin: formats all of `in` as one transcript and prints it on one line. Input that is
// not UTF-8 counts as empty. Always succeeds (0).
int runFormatStdin(std::istream& in, std::ostream& out);

} // namespace vak
