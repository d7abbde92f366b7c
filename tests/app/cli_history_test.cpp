#include "app/cli_history.h"
#include "base/time_util.h"
#include "history/history.h"
#include "platform/fake/fake_secret_store.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <sstream>

#include <gtest/gtest.h>

namespace vak {
namespace {

TEST(HistoryMode, PrintsTheLastRecordsOrSaysWhyItCannot) {
    test::TempDir dir;
    FakeSecretStore store;
    const std::string path = dir.file("history.enc");
    const HistorySettings settings{false, path, &store};
    const auto run = [&](std::optional<std::string> count, const HistorySettings& s) {
        std::ostringstream out, err;
        const int status = runHistoryMode(count, out, err, s);
        return std::make_tuple(status, out.str(), err.str());
    };

    EXPECT_EQ(run(std::nullopt, settings),
              std::make_tuple(0, std::string("no dictations in the history yet\n"), std::string()));
    for (int i = 1; i <= 12; ++i)
        appendHistory(path, &store, "words " + std::to_string(i), " raw", 1700000000 + 60 * i);
    test::writeFixture(path, test::readFixture(path) + "1700000999\tdamaged\n");
    const auto [status, out, err] = run("3", settings);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, localMinuteText(1700000660) + "  words 11\n" + localMinuteText(1700000720) +
                       "  words 12\n");
    EXPECT_EQ(err,
              "1 record could not be opened (damaged, or sealed under another key), skipped\n");
    const std::string tenLines = std::get<1>(run(std::nullopt, settings));
    EXPECT_EQ(std::count(tenLines.begin(), tenLines.end(), '\n'), 9); // the tenth is damaged

    for (const char* bad : {"0", "-2", "ten", "3x"})
        EXPECT_EQ(std::get<0>(run(std::string(bad), settings)), 2) << bad;
    EXPECT_EQ(run(std::nullopt, {true, path, &store}),
              std::make_tuple(0, std::string(HISTORY_OFF_TEXT) + "\n", std::string()));
    FakeSecretStore empty;
    EXPECT_EQ(std::get<0>(run(std::nullopt, {false, path, &empty})), 1);
}

} // namespace
} // namespace vak
