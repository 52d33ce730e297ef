#pragma once
// orvandel-setup's guide verbs: importing an XMLTV guide, showing what is
// on, and matching a guide channel to a channel of the lineup by hand.

#include <map>
#include <string>
#include <vector>

// "guide import FILE", "guide show [--channel N] [--at TIME]", "guide map
// GUIDE-ID CHANNEL". The tool's exit status.
int GuideVerb(const std::vector<std::string>& positional, const std::map<std::string, std::string>& options);
