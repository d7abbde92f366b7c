#include "text/spellings.h"

namespace vak {

const std::array<SpellingRule, 34> BRAND_SPELLINGS = {{
    {R"((?i)\bgit ?hub\b)", "GitHub"},
    {R"((?i)\bgit ?lab\b)", "GitLab"},
    {R"((?i)\bjava ?script\b)", "JavaScript"},
    {R"((?i)\btype ?script\b)", "TypeScript"},
    {R"((?i)\b(?:post ?gres ?(?:ql|sequel)|postgre sql)\b)", "PostgreSQL"},
    {R"((?i)\b(?:kubernetes|kuber ?netes|cooper ?netties)\b)", "Kubernetes"},
    {R"((?i)\bpy ?torch\b)", "PyTorch"},
    {R"((?i)\btensor ?flow\b)", "TensorFlow"},
    {R"((?i)\bnode(?:\.| dot | ?)js\b)", "Node.js"},
    {R"((?i)\bnext(?:\.| dot | ?)js\b)", "Next.js"},
    {R"((?i)\bopen ?ai\b)", "OpenAI"},
    {R"((?i)\bchat ?(?:gpt|g p t)\b)", "ChatGPT"},
    {R"((?i)\ban ?thropic\b)", "Anthropic"},
    {R"((?i)\bmy ?sql\b)", "MySQL"},
    {R"((?i)\b(?:sq ?lite|sequel ?lite)\b)", "SQLite"},
    {R"((?i)\bmongo ?db\b)", "MongoDB"},
    {R"((?i)\bgraph ?ql\b)", "GraphQL"},
    {R"((?i)\bdev ?ops\b)", "DevOps"},
    {R"((?i)\b(?:vs ?code|visual studio code)\b)", "VS Code"},
    {R"((?i)\bx ?code\b)", "Xcode"},
    {R"((?i)\bword ?press\b)", "WordPress"},
    {R"((?i)\byou ?tube\b)", "YouTube"},
    {R"((?i)\blinkedin\b)", "LinkedIn"},
    {R"((?i)\bpay ?pal\b)", "PayPal"},
    {R"((?i)\b(?:supa ?base|super ?base)\b)", "Supabase"},
    {R"((?i)\b(?:vercel|versel|ver cell)\b)", "Vercel"},
    {R"((?i)\bterra ?form\b)", "Terraform"},
    {R"((?i)\b(?:redis|reddis)\b)", "Redis"},
    {R"((?i)\bo ?auth\b)", "OAuth"},
    {R"((?i)\bfast ?api\b)", "FastAPI"},
    {R"((?i)\b(?:num ?py|num pie)\b)", "NumPy"},
    {R"((?i)\b(?:claude|clawed) ?code\b)", "Claude Code"},
    {R"((?i)\bwhisper(?:\.| dot )(?:cpp|c p p)\b)", "whisper.cpp"},
    {R"((?i)\b(?:ffmpeg|ff ?mpeg|f f mpeg)\b)", "FFmpeg"},
}};

const std::array<SpellingRule, 6> PLATFORM_SPELLINGS = {{
    {R"((?i)\bios\b)", "iOS"},
    {R"((?i)\bmacos\b)", "macOS"},
    {R"((?i)\biphone\b)", "iPhone"},
    {R"((?i)\bipad\b)", "iPad"},
    // Undo sentence casing of these two tool names.
    {R"(\bNpm\b)", "npm"},
    {R"(\bNpx\b)", "npx"},
}};

} // namespace vak
