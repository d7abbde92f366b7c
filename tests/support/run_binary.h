#pragma once

#include <map>
#include <string>
#include <vector>

namespace vak::test {

struct BinaryRun {
    int exitCode = -1; // -1 when it ended by a signal or did not finish in time
    std::string out;
    std::string err;
};

struct BinaryOptions {
    std::map<std::string, std::string> env; // set on top of the test's own environment
    std::vector<std::string> unsetEnv;
    std::string input;
    double timeoutSeconds = 60;
};

// Runs the vak-dictate binary under test with `input` on its standard input, and collects its
// standard output and error.
BinaryRun runVak(const std::vector<std::string>& args, const BinaryOptions& options = {});

} // namespace vak::test
