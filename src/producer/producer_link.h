#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vak {

// The files and tools shared with the sibling producer process. Both files are JSON lines in
// ~/.dictation/producer/: inbox.jsonl (we append session events) and outbox.jsonl (the producer
// writes what it said and heard); their paths are UserFile::ProducerInbox and ProducerOutbox.

// Appends {"ts": nowSeconds, "event": event} to the inbox. Nothing is written when the producer
// folder does not exist.
void producerInboxEvent(const std::string& inboxPath, std::string_view event, double nowSeconds);

// The sibling producer's tools ("~" is the home folder).
inline constexpr std::string_view PRODUCER_CTL_TOOL = "~/.local/bin/producer-ctl";
inline constexpr std::string_view PRODUCER_WAKE_TOOL = "~/.local/bin/producer-wake";

// Whether the producer's control tool is installed (an executable PRODUCER_CTL_TOOL in the home
// folder `home`): without it a producer session has nobody to talk to.
bool producerToolsInstalled(std::string_view home);

// Starts the tool at `path` and returns at once. The child is reaped in
// the background and stopped if it runs longer than `timeLimitSeconds`; a failure to start is
// ignored.
void runTool(std::string_view path, const std::vector<std::string>& arguments,
             double timeLimitSeconds = 30);
// Starts PRODUCER_WAKE_TOOL of the home folder `home` from a background queue.
void producerWake(std::string_view home);

// One line of the live panel, with the record's time.
struct ProducerEntry {
    double ts = 0;
    std::string line;
};

// The records in the last 8192 bytes of a file, as panel lines: for the outbox "Durad Ave: " +
// said; else "· " + event; else "Me: " + heard. Lines that are not JSON objects (a fragment
// cut by the window, a line the producer is still writing) are skipped.
std::vector<ProducerEntry> producerTail(const std::string& path, bool isOutbox);

// The panel's text: the entries of both files since `sinceTs`, by time, the last 8 of them;
// "🎛 listening — talk to me" when there are none.
std::string producerPanelText(const std::string& inboxPath, const std::string& outboxPath,
                              double sinceTs);

// Seconds since 1970, with fractions.
double unixNow();

} // namespace vak
