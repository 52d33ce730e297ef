#pragma once
// The update check: asks the maker's web site for the published version,
// once at start-up and whenever the user asks from the Help menu. The check
// runs on a thread of its own, one at a time; the window thread learns its
// end from kMsgUpdateCheckDone and tells the user.

#include <optional>
#include <string>
#include <string_view>

constexpr char kOwnVersion[] = "1.1.4";
constexpr char kVersionDocumentPath[] = "/site/demos/Orvandel/update2.xml";
constexpr char kDownloadPagePath[] = "/site/downloads.html";

constexpr char kUpdateConnectionErrorText[] =
    "An error occurred trying to connect to the server. Please try again later.";
constexpr char kNoNewVersionText[] = "No new version of Orvandel is available yet";
constexpr char kNewVersionText[] = "A new version of Orvandel is available. Would you like to upgrade?";

// The text after the first "version=" of a response, up to the next '<' or
// the end; nothing when there is no "version=".
std::optional<std::string> PublishedVersion(std::string_view response);

// What the user is told once a check has ended.
enum class UpdateNotice { Nothing, ConnectionError, NewVersion, NoNewVersion };

// A manual check reports every outcome but a document without a version; the
// start-up check reports only a new version the user has not declined for
// good. Any difference from our own version counts as new.
UpdateNotice NoticeFor(bool fetched, const std::optional<std::string>& published, bool manual, bool dontAsk);

// At start-up: no user has asked yet.
void ClearManualUpdateRequest();

// Starts a check unless one runs. A manual request during a running check
// makes that check manual instead, and the flag stays once the user asked.
// False when no new check was started.
bool StartUpdateCheck(bool manual);

// At shutdown: waits up to limitMs for a running check; false when it still
// runs, and is then left to end with the program.
bool WaitForUpdateCheck(int limitMs);

// On the window thread, once kMsgUpdateCheckDone arrived: what to tell the
// user about the check that ended, from the stored "Do not ask again".
UpdateNotice TakeUpdateNotice();
// The version that check found published; empty when none.
std::string LastPublishedVersion();
