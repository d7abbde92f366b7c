#include "rewrite/rewrite_settings.h"

#include "base/environment.h"
#include "base/files.h"
#include "base/log.h"
#include "base/unicode.h"
#include "foundation/process_values.h"
#include "foundation/user_files.h"

#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

namespace vak {

std::string proxyTokenPath(std::string_view home) {
    return userFilePath(home, UserFile::ProxyToken);
}

std::string readProxyToken(const std::string& path) {
    std::string problem;
    const auto fd = openRegularFile(path, &problem);
    if (!fd) {
        if (!problem.empty()) log(LogLevel::warning, path + " " + problem + " — no proxy token");
        return {};
    }
    struct stat st {};
    if (::fstat(fd->get(), &st) != 0) return {};
    const bool link = describePath(path) == "a link";
    if (link && st.st_uid != ::geteuid()) {
        // A credential is sent only from a file of the user's own.
        log(LogLevel::warning, path + " is a link to a file of another user — no proxy token");
        return {};
    }
    if ((st.st_mode & 0077) != 0) {
        if (link) {
            // A dotfile manager's target is the user's to set; it is never changed from here.
            log(LogLevel::warning, path + " links to a file other users can read — left as it is");
        } else if (::fchmod(fd->get(), 0600) == 0) {
            log(LogLevel::warning, path + " was readable by other users — made private (0600)");
        }
    }
    const auto text = readAll(fd->get());
    return text && isValidUtf8(*text) ? trim(*text) : std::string();
}

RewriteSettings RewriteSettings::from(const ProcessValues& values) {
    RewriteSettings settings;
    settings.proxyUrl = values.cfg.polishProxyUrl;
    settings.proxyToken = readProxyToken(proxyTokenPath(values.HOME));
    settings.anthropicUrl = envValueOr(Env::AnthropicUrl, DEFAULT_ANTHROPIC_URL);
    settings.groqUrl = envValueOr(Env::GroqUrl, DEFAULT_GROQ_URL);
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
