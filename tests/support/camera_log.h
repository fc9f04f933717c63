#pragma once
// Renders the simulated camera's request log as short words, so that a test
// can state a whole programming sequence in one readable list:
//   OPEN, CLOSE, CANCEL, D<ms>, SC<value>, ARM, CHIP, CFG<address hex>,
//   W<reg>=<value>, and a trailing '!' for a driver call that failed.

#include <cstdio>
#include <string>
#include <vector>

#include "simulated_camera.h"

namespace kv20x::test {

inline std::string DescribeLogEntry(const simcam::LogEntry& e)
{
    char text[48];
    switch (e.kind) {
    case simcam::LogKind::Open: return e.ok ? "OPEN" : "OPEN!";
    case simcam::LogKind::Close: return "CLOSE";
    case simcam::LogKind::Cancel: return "CANCEL";
    case simcam::LogKind::Delay: std::snprintf(text, sizeof text, "D%u", e.milliseconds); return text;
    case simcam::LogKind::Control: break;
    }
    if (e.code == simcam::kIoctlPipeArm) {
        std::snprintf(text, sizeof text, "ARM");
    } else {
        switch (e.request) {
        case 0x01: std::snprintf(text, sizeof text, "SC%u", e.value); break;
        case 0x0A: std::snprintf(text, sizeof text, "CHIP"); break;
        case 0x11: std::snprintf(text, sizeof text, "CFG%X", e.index); break;
        case 0x0B: std::snprintf(text, sizeof text, "W%u=%u", e.index, e.value); break;
        default: std::snprintf(text, sizeof text, "REQ%02X", e.request); break;
        }
    }
    std::string word = text;
    if (!e.ok)
        word += '!';
    return word;
}

inline std::vector<std::string> DescribeLog(const std::vector<simcam::LogEntry>& log)
{
    std::vector<std::string> words;
    for (const simcam::LogEntry& e : log)
        words.push_back(DescribeLogEntry(e));
    return words;
}

// The words of the log from the first occurrence of `from` on.
inline std::vector<std::string> LogFrom(const std::vector<std::string>& words, const std::string& from)
{
    for (size_t i = 0; i < words.size(); ++i)
        if (words[i] == from)
            return {words.begin() + static_cast<long>(i), words.end()};
    return {};
}

}  // namespace kv20x::test
