#pragma once

#include "foundation/process_values.h"
#include "foundation/scratch_files.h"

#include <string>
#include <string_view>

namespace vak {

inline constexpr std::string_view DEFAULT_ANTHROPIC_URL = "https://api.anthropic.com/v1/messages";
inline constexpr std::string_view DEFAULT_GROQ_URL =
    "https://api.groq.com/openai/v1/chat/completions";

// Everything a rewrite reads: endpoints, the credentials, the model, the house style and where
// request bodies go. Built from the process's values for each rewrite; tests build their own.
struct RewriteSettings {
    std::string curl = "/usr/bin/curl";
    std::string proxyUrl;     // POLISH_PROXY_URL
    std::string proxyToken;   // the rewrite proxy's credential; empty leaves the proxy out
    std::string anthropicUrl; // $VAK_ANTHROPIC_URL, else the Messages API
    std::string groqUrl;      // $VAK_GROQ_URL, else the chat-completions API
    std::string claudeTool;   // HOME + "/.local/bin/claude"
    std::string polishKey;    // POLISH_KEY: "gsk_…" is Groq's, any other Anthropic's
    std::string polishModel;  // POLISH_MODEL, for the Anthropic API and the claude tool
    std::string localUrl;     // POLISH_OPENAI_URL, a local model server; empty leaves it out
    std::string localModel;   // POLISH_OPENAI_MODEL; empty sends no model
    std::string localKey;     // POLISH_OPENAI_KEY; empty sends no key
    std::string style;        // STYLE, the house-style note
    ScratchFiles scratch;     // where request bodies are written

    // The settings of `values`, with the proxy credential read afresh from its file.
    static RewriteSettings from(const ProcessValues& values);
};

// Where the rewrite proxy's credential lives: ~/.dictation/proxy-token.
std::string proxyTokenPath(std::string_view home);

// The credential in `path`, trimmed; empty when the file is missing, unreadable or blank. A file
// other users can read is made private (0600) first, with one log line.
std::string readProxyToken(const std::string& path);

} // namespace vak
