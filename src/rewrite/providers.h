#pragma once

#include "rewrite/rewrite_settings.h"

#include <optional>
#include <string>
#include <string_view>

namespace vak {

// The model-backed rewrite providers. Each call blocks its thread for up to `timeoutSeconds`
// (curl's "--max-time", whole seconds, or a watchdog on the claude tool) and yields the
// provider's text or nothing; a failure is silent except the proxy's refusal line. Request
// bodies go to a private scratch file, unique per call and removed on every path; keys reach
// curl through its standard input, never its argument list.

// The rewrite proxy: only with a proxy credential. `mode` is "summarize", "professional" or
// "command".
std::optional<std::string> polishViaProxy(std::string_view text, double timeoutSeconds,
                                          std::string_view mode, const RewriteSettings& settings);

// The Anthropic Messages API with POLISH_MODEL and the key POLISH_KEY.
std::optional<std::string> polishViaAPI(std::string_view text, double timeoutSeconds,
                                        std::string_view instruction,
                                        const RewriteSettings& settings);

// Groq chat completions with a fixed Llama model and the key POLISH_KEY.
std::optional<std::string> polishViaGroq(std::string_view text, double timeoutSeconds,
                                         std::string_view instruction,
                                         const RewriteSettings& settings);

// A local model server speaking OpenAI chat completions (POLISH_OPENAI_URL), with
// POLISH_OPENAI_MODEL and, when set, the bearer key POLISH_OPENAI_KEY; nothing at once when no
// server is configured. A reasoning model's leading <think>…</think> is not part of the text.
std::optional<std::string> polishViaLocalModel(std::string_view text, double timeoutSeconds,
                                               std::string_view instruction,
                                               const RewriteSettings& settings);

// The claude command-line tool at ~/.local/bin/claude: the text on its standard input, its
// standard output (untrimmed) when it exits 0 with valid UTF-8.
std::optional<std::string> polishViaClaudeCLI(std::string_view text, double timeoutSeconds,
                                              std::string_view instruction,
                                              const RewriteSettings& settings);

// The chain every model rewrite runs: the local model server; the proxy with `mode`; then, by
// POLISH_KEY, Groq ("gsk_…") or Anthropic (any other key); then, when no keyed provider was asked
// or it gave nothing, the claude tool. The first text wins; nothing when all fail.
std::optional<std::string> rewriteViaProviders(std::string_view text, double timeoutSeconds,
                                               std::string_view mode, std::string_view instruction,
                                               const RewriteSettings& settings);

} // namespace vak
