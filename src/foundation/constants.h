#pragma once

#include <string_view>

namespace vak {

inline constexpr std::string_view APP_VERSION = "8.28";
inline constexpr std::string_view APP_NAME = "vak-dictate";

// Where the history key lives in the platform's secret store.
inline constexpr std::string_view KEYCHAIN_SERVICE = "com.halden.vak-dictate";
inline constexpr std::string_view KEYCHAIN_ACCOUNT = "history-key";

// Device-dependent flag bit of Left Command in modifier-flag events.
inline constexpr unsigned LEFT_CMD_BIT = 8;

// Vocabulary hint handed to the speech engine as the initial prompt of every full decode: names
// and terms it would otherwise spell wrong. Its length (277 characters) is fixed.
inline constexpr std::string_view VOCAB_PROMPT =
    "Dictation about software: Claude, Anthropic, GitHub, Kubernetes, PostgreSQL, TypeScript, "
    "JavaScript, Python, Rust, Swift, Xcode, macOS, iOS, Linux, Docker, Terraform, Redis, "
    "GraphQL, OAuth, JSON, YAML, API, CLI, SDK, npm, pytest, Vite, React, Next.js, Tailwind, "
    "Notion, Vercel.";

} // namespace vak
