#include "base/files.h"
#include "base/subprocess.h"
#include "platform/linux/xdg_autostart.h"
#include "support/temp_dir.h"

#include <filesystem>

#include <gtest/gtest.h>

namespace vak {
namespace {

TEST(Autostart, TheUserEntryStartsTheProgramAsTheDesktopReadsItAndGoesWhenSwitchedOff) {
    EXPECT_EQ(autostartEntryPath("/home/u", "/cfg"), "/cfg/autostart/vak-dictate.desktop");
    EXPECT_EQ(autostartEntryPath("/home/u", "cfg"), // not absolute: ignored
              "/home/u/.config/autostart/vak-dictate.desktop");
    EXPECT_EQ(startableProgram("./build/../build/vak-dictate"),
              (std::filesystem::current_path() / "build/vak-dictate").string());

    test::TempDir home;
    const std::string entry = autostartEntryPath(home.path(), nullptr);
    EXPECT_FALSE(autostartEnabled(entry));
    // Program paths as the Exec line must carry them: quoted for reserved characters, "%"
    // doubled, and the quoting's backslashes escaped once more. The desktop's own checker
    // (installed by ./scripts/test) has nothing to say of the entry.
    const bool validator = isExecutableFile("/usr/bin/desktop-file-validate");
    RunOptions validate;
    validate.errorTailBytes = 4096;
    for (const auto& [program, exec] : {
             std::pair<std::string, std::string>{"/usr/bin/vak-dictate", "/usr/bin/vak-dictate"},
             {"/home/sam/my apps/vak-dictate", "\"/home/sam/my apps/vak-dictate\""},
             {"/opt/100%/vak-dictate", "/opt/100%%/vak-dictate"},
             {"/opt/$HOME \"x\"/vak", "\"/opt/\\\\$HOME \\\\\"x\\\\\"/vak\""},
         }) {
        ASSERT_TRUE(setAutostart(entry, true, program)) << program;
        EXPECT_TRUE(autostartEnabled(entry));
        const std::string text = test::readFixture(entry);
        EXPECT_NE(text.find("\nExec=" + exec + "\n"), std::string::npos) << text;
        EXPECT_EQ(text.find("Hidden"), std::string::npos);
        const auto checked = validator
                                 ? runProcess({"/usr/bin/desktop-file-validate", entry}, validate)
                                 : std::nullopt;
        EXPECT_EQ(checked ? checked->output + checked->errorTail : "", "") << program;
    }
    EXPECT_FALSE(autostartEntryText("/opt/a\nb"));

    ASSERT_TRUE(setAutostart(entry, false, ""));
    EXPECT_FALSE(pathExists(entry));
    EXPECT_TRUE(setAutostart(entry, false, "")); // already off

    // An entry of the user's that hides itself, or is switched off for GNOME, is off.
    for (const char* off : {"Hidden=true", "X-GNOME-Autostart-enabled = false"}) {
        test::writeFixture(entry, "[Desktop Entry]\nType=Application\nExec=vak-dictate\n" +
                                      std::string(off) + "\n");
        EXPECT_FALSE(autostartEnabled(entry)) << off;
    }
}

} // namespace
} // namespace vak
