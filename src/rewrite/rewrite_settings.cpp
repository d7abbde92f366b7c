#include "rewrite/rewrite_settings.h"

#include "base/files.h"
#include "base/log.h"
#include "base/unicode.h"
#include "foundation/process_values.h"

#include <cstdlib>

namespace vak {

namespace {

std::string endpoint(const char* variable, std::string_view fallback) {
    const char* over = std::getenv(variable);
    return over != nullptr && *over != '\0' ? std::string(over) : std::string(fallback);
}

} // namespace

std::string proxyTokenPath(std::string_view home) {
    return std::string(home) + "/.dictation/proxy-token";
}

std::string readProxyToken(const std::string& path) {
    if (!isRegularFile(path)) return {};
    if (const auto mode = filePermissions(path); mode && (*mode & 0077) != 0) {
        setPermissions(path, 0600);
        log(LogLevel::warning, "" + path + " was readable by other users — made private (0600)");
    }
    const auto text = readTextFile(path);
    return text ? trim(*text) : std::string();
}

RewriteSettings RewriteSettings::fromProcess() {
    const ProcessValues& values = processValues();
    RewriteSettings settings;
    settings.proxyUrl = values.cfg.polishProxyUrl;
    settings.proxyToken = readProxyToken(proxyTokenPath(values.HOME));
    settings.anthropicUrl = endpoint("VAK_ANTHROPIC_URL", DEFAULT_ANTHROPIC_URL);
    settings.groqUrl = endpoint("VAK_GROQ_URL", DEFAULT_GROQ_URL);
    settings.claudeTool = values.HOME + "/.local/bin/claude";
    settings.polishKey = values.cfg.polishKey;
    settings.polishModel = values.cfg.polishModel;
    settings.localUrl = values.cfg.polishOpenaiUrl;
    settings.localModel = values.cfg.polishOpenaiModel;
    settings.localKey = values.cfg.polishOpenaiKey;
    settings.style = values.cfg.style;
    settings.scratch = values.scratch;
    return settings;
}

} // namespace vak
