// A stand-in for the `claude` command-line tool in print mode. It accepts only the call the
// program makes, `claude --model MODEL -p INSTRUCTION` with the text on standard input, records
// every call and then behaves as its control folder says.
//
// Control folder: $VAK_FAKE_CLAUDE_DIR, else the folder this program was started from (so a link
// at ~/.local/bin/claude keeps its files beside it).
//   fake-claude.answer  bytes written to standard output (default: "Rewritten: " + the input)
//   fake-claude.conf    key=value lines:
//       mode=answer|hang   answer (default), or sleep until stopped
//       delay=SECONDS      sleep before answering
//       exit=N             exit status after answering (default 0)
//   fake-claude.calls   one JSON object per call: {"args": [...], "stdin": "...", "valid": bool}
// A call with any other arguments is recorded with "valid": false and exits 2, as the real tool
// does on a usage error.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

namespace {

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::map<std::string, std::string> readControl(const std::string& path) {
    std::map<std::string, std::string> control;
    std::istringstream lines(readFile(path).value_or(""));
    std::string line;
    while (std::getline(lines, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) control[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return control;
}

void appendLine(const std::string& path, const std::string& line) {
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0600);
    if (fd < 0) return;
    if (write(fd, line.data(), line.size()) < 0) {
        // A lost record shows up in the test that looks for it.
    }
    close(fd);
}

} // namespace

int main(int argc, char** argv) {
    std::string dir;
    if (const char* over = std::getenv("VAK_FAKE_CLAUDE_DIR"); over != nullptr && *over != '\0') {
        dir = over;
    } else {
        const std::string self = argv[0];
        const auto slash = self.rfind('/');
        dir = slash == std::string::npos ? "." : self.substr(0, slash);
    }
    const std::vector<std::string> args(argv + 1, argv + argc);
    const std::string input{std::istreambuf_iterator<char>(std::cin),
                            std::istreambuf_iterator<char>()};
    const bool valid = args.size() == 4 && args[0] == "--model" && !args[1].empty() &&
                       args[2] == "-p" && !args[3].empty();
    const nlohmann::json record = {{"args", args}, {"stdin", input}, {"valid", valid}};
    appendLine(dir + "/fake-claude.calls",
               record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
    if (!valid) {
        std::fprintf(stderr, "usage: claude --model MODEL -p PROMPT\n");
        return 2;
    }

    auto control = readControl(dir + "/fake-claude.conf");
    if (control["mode"] == "hang") {
        for (;;)
            std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    if (const double delay = std::atof(control["delay"].c_str()); delay > 0)
        std::this_thread::sleep_for(std::chrono::duration<double>(delay));
    const std::string answer =
        readFile(dir + "/fake-claude.answer").value_or("Rewritten: " + input);
    std::fwrite(answer.data(), 1, answer.size(), stdout);
    std::fflush(stdout);
    return std::atoi(control["exit"].c_str());
}
