#include "app/cli_history.h"
#include "base/time_util.h"
#include "history/history.h"
#include "platform/fake/fake_secret_store.h"
#include "support/temp_dir.h"

#include <sstream>

#include <gtest/gtest.h>

namespace vak {
namespace {

// The reading itself (damaged records, the last N lines, privacy mode) is the history's own.
TEST(HistoryMode, PrintsTheLastRecordsOldestFirstOrSaysWhyItCannot) {
    test::TempDir dir;
    const std::string path = dir.file("history.enc");
    FakeSecretStore store;
    const auto run = [&](std::optional<std::string> count, FakeSecretStore& keys) {
        std::ostringstream out, err;
        const int status = runHistoryMode(count, out, err, {false, path, &keys});
        return std::make_tuple(status, out.str(), err.str());
    };
    EXPECT_EQ(std::get<1>(run(std::nullopt, store)), "no dictations in the history yet\n");
    for (int i = 1; i <= 3; ++i)
        appendHistory(path, &store, "words " + std::to_string(i), " raw", 1700000000 + 60 * i);
    EXPECT_EQ(run("2", store), std::make_tuple(0,
                                               localMinuteText(1700000120) + "  words 2\n" +
                                                   localMinuteText(1700000180) + "  words 3\n",
                                               std::string()));
    for (const char* bad : {"0", "-2", "ten", "3x"})
        EXPECT_EQ(std::get<0>(run(std::string(bad), store)), 2) << bad;
    FakeSecretStore empty; // the key is gone: nothing opens
    EXPECT_EQ(std::get<0>(run(std::nullopt, empty)), 1);
}

} // namespace
} // namespace vak
