#pragma once
// orvandel-setup's guide verbs: importing an XMLTV guide, refreshing it,
// showing what is on, and matching a guide channel to a channel of the lineup by hand.

#include <map>
#include <string>
#include <vector>

using VerbOptions = std::map<std::string, std::string>;

// "guide import FILE|URL", "guide refresh" (from where the last import came),
// "guide show [--channel N] [--at TIME]", "guide map GUIDE-ID CHANNEL". The
// tool's exit status.
int GuideVerb(const std::vector<std::string>& positional, const VerbOptions& options);

// "record TITLE [--series] [--contains] [--channel N] [--new-only] [--keep N]
// [--early M] [--late M]": a rule, with the recordings it makes and any
// conflict. "rules", "rules remove ID", "rules prefer ID" (it wins its
// conflicts, and the rules are shown again).
int RecordVerb(const std::vector<std::string>& positional, const VerbOptions& options);
int RulesVerb(const std::vector<std::string>& positional);
