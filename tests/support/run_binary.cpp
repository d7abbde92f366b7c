#include "support/run_binary.h"

#include "base/subprocess.h"

namespace vak::test {

BinaryRun runVak(const std::vector<std::string>& args, const BinaryOptions& options) {
    // A variable to drop is dropped by env(1), which then runs the program.
    std::vector<std::string> argv;
    if (!options.unsetEnv.empty()) argv.push_back("/usr/bin/env");
    for (const std::string& name : options.unsetEnv)
        argv.insert(argv.end(), {"-u", name});
    argv.push_back(VAK_BINARY);
    argv.insert(argv.end(), args.begin(), args.end());
    RunOptions run;
    run.timeoutSeconds = options.timeoutSeconds;
    run.killGraceSeconds = 0.5;
    run.input = options.input;
    run.errorTailBytes = 64u << 20;
    for (const auto& [name, value] : options.env)
        run.environment.push_back(name + "=" + value);
    std::string error;
    const auto result = runProcess(argv, run, &error);
    if (!result) return {-1, "", "spawn failed: " + error};
    const bool exited = result->status.exited() && !result->timedOut;
    return {exited ? result->status.code : -1, result->output, result->errorTail};
}

} // namespace vak::test
