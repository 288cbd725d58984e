// Fuzz target: the colour runs of log messages (host/LogRuns): LogRun, StripRuns and
// ParseRuns. The input is cut at line feeds into up to eight texts of client origin
// (user names, paths); the whole input is also read as a message of any markup.
//
// Invariants:
// - escaped text comes back as sent: StripRuns(LogRun(c, t)) == t, and
//   ParseRuns(LogRun(c, t)) is the one run {c, t};
// - client text cannot forge runs: a message the program composes from its own runs
//   (one level nested) around escaped texts parses into exactly the runs it was built
//   from, and strips to exactly their texts;
// - any bytes parse without loss of order: runs are never empty, neighbours never
//   share a colour, and text without markup characters is one run in the base colour.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/LogRuns.h"
#include "tests/fuzz/FuzzCheck.h"

using namespace nubo;
using nubo::fuzz::Shown;

namespace {

uint32_t Rgb(std::string_view colour) {
    return uint32_t(std::stoul(std::string(colour.substr(1)), nullptr, 16));
}

std::string Describe(const TLogLine& line) {
    std::string s;
    for (const auto& r : line) {
        char c[16];
        std::snprintf(c, sizeof c, "#%06X", r.Rgb);
        s += std::string("{") + c + " \"" + Shown(r.Text) + "\"} ";
    }
    return s;
}

// Runs as the reader must see them: empty texts dropped, equal neighbours joined.
void AddRun(TLogLine& line, uint32_t rgb, const std::string& text) {
    if (text.empty()) return;
    if (!line.empty() && line.back().Rgb == rgb)
        line.back().Text += text;
    else
        line.push_back({rgb, text});
}

void CheckWellFormed(const TLogLine& line, const std::string& ctx) {
    for (size_t i = 0; i < line.size(); ++i) {
        FUZZ_CHECK(!line[i].Text.empty(), "empty run: " + ctx);
        FUZZ_CHECK(line[i].Rgb <= 0xFFFFFF, "colour out of range: " + ctx);
        if (i > 0) FUZZ_CHECK(line[i].Rgb != line[i - 1].Rgb, "neighbour runs share a colour: " + ctx);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> texts;
    for (size_t pos = 0; texts.size() < 8;) {
        const size_t nl = input.find('\n', pos);
        texts.push_back(input.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos));
        if (nl == std::string::npos) break;
        pos = nl + 1;
    }

    const std::string_view palette[] = {kLogSeparator, kLogUser, kLogFile, kLogText, "#1A2B3C", "#abcdef"};
    constexpr uint32_t base = 0x102030;

    // 1. One escaped text on its own.
    for (size_t i = 0; i < texts.size(); ++i) {
        const std::string& t = texts[i];
        const std::string_view colour = palette[i % std::size(palette)];
        const std::string run = LogRun(colour, t);
        FUZZ_CHECK(StripRuns(run) == t,
                   "LogRun text not kept: \"" + Shown(t) + "\" stripped to \"" + Shown(StripRuns(run)) + "\"");
        const TLogLine parsed = ParseRuns(run, base);
        TLogLine want;
        AddRun(want, Rgb(colour), t);
        FUZZ_CHECK(parsed == want, "LogRun of \"" + Shown(t) + "\" parsed as " + Describe(parsed));
    }

    // 2. A message composed as the host composes its lines: a connection prefix, runs of
    // program text, escaped client texts, some inside an outer run of their own.
    std::string message = ConnectionPrefix(int(size % 1000));
    TLogLine want;
    AddRun(want, Rgb(kLogSeparator), "[");
    AddRun(want, Rgb(kLogConnNumber), std::to_string(size % 1000));
    AddRun(want, Rgb(kLogSeparator), "] ");
    std::string plain = "[" + std::to_string(size % 1000) + "] ";
    for (size_t i = 0; i < texts.size(); ++i) {
        const std::string& t = texts[i];
        const std::string_view inner = palette[(i + 1) % std::size(palette)];
        if (i % 3 == 2) {
            // Nested: the outer run's own text keeps the outer colour around the inner run.
            const std::string_view outer = palette[(i + 4) % std::size(palette)];
            message += std::string(outer) + "<to " + LogRun(inner, t) + " ok>";
            AddRun(want, Rgb(outer), "to ");
            AddRun(want, Rgb(inner), t);
            AddRun(want, Rgb(outer), " ok");
            plain += "to " + t + " ok";
        } else if (i % 3 == 1) {
            // Between runs: plain program text in the base colour.
            message += "said " + LogRun(inner, t);
            AddRun(want, base, "said ");
            AddRun(want, Rgb(inner), t);
            plain += "said " + t;
        } else {
            message += LogRun(inner, t);
            AddRun(want, Rgb(inner), t);
            plain += t;
        }
    }
    const TLogLine parsed = ParseRuns(message, base);
    FUZZ_CHECK(parsed == want, "composed message \"" + Shown(message) + "\"\n parsed: " + Describe(parsed) +
                                   "\n wanted: " + Describe(want));
    FUZZ_CHECK(StripRuns(message) == plain, "composed message \"" + Shown(message) + "\" stripped to \"" +
                                                Shown(StripRuns(message)) + "\", wanted \"" + Shown(plain) + "\"");

    // 3. The input itself as a message of any markup.
    const TLogLine any = ParseRuns(input, base);
    const std::string ctx = "input \"" + Shown(input) + "\" parsed as " + Describe(any);
    CheckWellFormed(any, ctx);
    size_t total = 0;
    for (const auto& r : any) total += r.Text.size();
    FUZZ_CHECK(total <= input.size(), "parsing made text: " + ctx);
    const std::string stripped = StripRuns(input);
    FUZZ_CHECK(stripped.size() <= input.size(), "stripping made text: " + ctx);
    if (input.find_first_of("#<>\x1B") == std::string::npos) {
        TLogLine one;
        AddRun(one, base, input);
        FUZZ_CHECK(any == one, "text without markup not one run: " + ctx);
        FUZZ_CHECK(stripped == input, "text without markup changed by StripRuns: " + ctx);
    }
    return 0;
}
