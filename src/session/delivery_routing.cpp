#include "session/delivery_routing.h"

#include "base/log.h"
#include "base/main_queue.h"
#include "base/numbers.h"
#include "base/regex.h"
#include "base/time_util.h"
#include "base/unicode.h"
#include "foundation/config.h"
#include "text/local_modes.h"
#include "text/words.h"

namespace vak {

namespace {

// How the log names the default mode taken.
std::string_view defaultModeName(DeliverMode mode) {
    switch (mode) {
    case DeliverMode::agent:
        return "agent brief";
    case DeliverMode::expand:
        return "extend";
    default:
        return configValue(mode);
    }
}

void commandBranch(const RouteRequest& request, const RouteServices& services) {
    if (request.text.empty()) {
        log(LogLevel::abandoned, "command mode: empty instruction — selection left untouched");
        services.finish("", "");
        return;
    }
    services.background->async([request, services] {
        const auto start = SteadyClock::now();
        const auto edited = services.commandEdit(*request.commandSelection, request.text);
        if (!edited) {
            log(LogLevel::warning,
                "command edit failed — nothing pasted, selection left untouched");
            services.finish("", "");
            return;
        }
        services.logTranscript(request.text, " cmd");
        services.finish(*edited, " 🎯" + fixedDecimals(secondsSince(start), 1) + "s edit");
    });
}

void offerChoice(const RouteRequest& request, const RouteSettings& settings,
                 const RouteServices& services) {
    services.main->post([request, settings, services] {
        log(LogLevel::question, "transcript ready (session " + std::to_string(request.session) +
                                    ") — Summarize / Professional / Keep?");
        const std::string text = request.text;
        services.presentChoice(
            text,
            [text, settings, services] {
                deliverLocal(text, DeliverMode::summarize, settings, services);
            },
            [text, settings, services] {
                deliverLocal(text, DeliverMode::professional, settings, services);
            },
            [text, services] { services.finish(text, ""); });
    });
}

void askRules(const RouteRequest& request, const RouteSettings& settings,
              const RouteServices& services) {
    const auto minimum = static_cast<std::size_t>(std::max(settings.polishMinWords, 1));
    const bool longEnough = hasAtLeastWords(request.text, minimum);
    if (!request.isPolishApp && request.isProApp && longEnough) {
        log(LogLevel::info, "auto-professional (" + request.bundle + ")");
        deliverLocal(request.text, DeliverMode::professional, settings, services);
        return;
    }
    if (!settings.polish || !longEnough) {
        services.finish(request.text, "");
        return;
    }
    const DeliverMode mode = settings.defaultMode;
    if (mode == DeliverMode::raw) {
        services.finish(request.text, "");
        return;
    }
    if (mode != DeliverMode::ask) {
        log(LogLevel::info, "default mode: " + std::string(defaultModeName(mode)));
        deliverLocal(request.text, mode, settings, services);
        return;
    }
    if (!request.isPolishApp) {
        services.finish(request.text, ""); // "ask" outside terminals and code tools
    } else if (!request.wasInstant && settings.polishAsk) {
        offerChoice(request, settings, services);
    } else {
        deliverLocal(request.text, DeliverMode::summarize, settings, services);
    }
}

} // namespace

RouteSettings RouteSettings::fromConfig(const Config& config) {
    RouteSettings settings;
    settings.polish = config.polish;
    settings.polishMinWords = config.polishMinWords;
    settings.defaultMode = config.defaultMode;
    settings.polishAsk = config.polishAsk;
    return settings;
}

bool bundleMatchesList(std::string_view bundle, std::string_view list) {
    while (!list.empty()) {
        const auto comma = list.find(',');
        const std::string entry = toLower(trim(list.substr(0, comma), CharClass::Blanks));
        if (!entry.empty() && bundle.find(entry) != std::string_view::npos) return true;
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    return false;
}

void deliverLocal(std::string text, DeliverMode mode, const RouteSettings& settings,
                  const RouteServices& services) {
    services.background->async(
        [text = std::move(text), mode, rules = settings.modeRulesPath, services] {
            const auto start = SteadyClock::now();
            services.logTranscript(text, " raw");
            std::string out = localModeTransform(text, mode, rules);
            services.finish(std::move(out), " ⌁" + fixedDecimals(secondsSince(start), 2) + "s " +
                                                std::string(configValue(mode)));
        });
}

void routeTranscript(RouteRequest request, const RouteSettings& settings,
                     const RouteServices& services) {
    if (request.commandSelection) {
        commandBranch(request, services);
        return;
    }
    if (auto verbatim = regexFirstMatch(request.text, "^(?i)verbatim[,.]?\\s*")) {
        services.finish(request.text.substr(verbatim->end), "");
        return;
    }
    if (request.text.empty()) {
        services.finish("", "");
        return;
    }

    DeliverMode mode = request.selectedMode;
    if (!request.modePicked) {
        if (const auto usual = services.learnedMode(request.bundle); usual && *usual != mode) {
            log(LogLevel::info, "learned mode for " + request.bundle + ": " +
                                    std::string(label(*usual)) + " (your usual pick here)");
            mode = *usual;
        }
    }
    if (mode == DeliverMode::ask) {
        askRules(request, settings, services);
    } else if (mode == DeliverMode::raw) {
        services.finish(std::move(request.text), "");
    } else {
        deliverLocal(std::move(request.text), mode, settings, services);
    }
}

} // namespace vak
