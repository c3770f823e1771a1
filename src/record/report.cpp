#include "record/report.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <utility>

#include "hash/file_digest.h"
#include "platform/identity.h"
#include "platform/system.h"
#include "platform/timezone.h"
#include "record/dfxml_writer.h"
#include "record/log_set.h"
#include "record/recorder_state.h"
#include "record/summary.h"
#include "util/paths.h"
#include "util/run_end.h"
#include "util/text.h"
#include "util/version.h"

namespace veldro::record {

namespace {

// ---- the records' share -----------------------------------------------

bool is_failure(std::string_view reason) {
    return reason.find("ERROR") != std::string_view::npos || reason.find("NOT FOUND") != std::string_view::npos ||
           reason.starts_with("the run ended");
}

// A log's reason without its "reason:" label and its stars.
std::string reason_words(std::string_view reason) {
    if (reason.starts_with("reason:")) {
        reason.remove_prefix(7);
    }
    const std::size_t first = reason.find_first_not_of(" *");
    if (first == std::string_view::npos) {
        return "no reason given";
    }
    const std::size_t last = reason.find_last_not_of(" *");
    return std::string(reason.substr(first, last - first + 1));
}

int year_of(const platform::FileTime& time) {
    const std::string iso = iso8601_utc(time, 0);
    if (iso.size() < 4) {
        return 0;
    }
    int year = 0;
    for (const char c : iso.substr(0, 4)) {
        year = year * 10 + (c - '0');
    }
    return year;
}

// ---- text helpers -----------------------------------------------------

std::string number(std::uint64_t value) {
    return util::with_separators(static_cast<std::int64_t>(value));
}

std::string shown(std::string_view path) {
    return html_text(paths::shown_path(path));
}

std::string utc_text(std::int64_t seconds) {
    std::string iso = iso8601_utc_seconds(seconds);
    if (iso.size() == 20) {
        iso[10] = ' ';
        iso.pop_back();
    }
    return iso + " UTC";
}

std::string local_text(std::int64_t seconds) {
    const platform::ZoneState zone = platform::zone_state(seconds);
    const platform::CalendarFields& f = zone.local;
    std::int64_t offset = -zone.offset_west_seconds + (zone.daylight_in_force ? 3600 : 0);
    const char sign = offset < 0 ? '-' : '+';
    offset = offset < 0 ? -offset : offset;
    const std::string& name = zone.daylight_in_force && !zone.dst_name.empty() ? zone.dst_name : zone.std_name;
    std::array<char, 96> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02d %02d:%02d:%02d %s (UTC%c%02d:%02d)", f.year, f.month, f.day,
                  f.hour, f.minute, f.second, name.c_str(), sign, static_cast<int>(offset / 3600),
                  static_cast<int>((offset % 3600) / 60));
    return text.data();
}

std::string join_shown(const std::vector<std::string>& items, bool as_paths) {
    std::string out;
    for (const std::string& item : items) {
        if (!out.empty()) {
            out += "  ";
        }
        out += as_paths ? paths::shown_path(item) : util::shown_name(item);
    }
    return out;
}

std::string file_time_date(std::uint64_t ticks) {
    const std::string iso = iso8601_utc(platform::FileTime{ticks, 0}, 0);
    return iso.size() >= 10 ? iso.substr(0, 10) : iso;
}

// ---- the document -------------------------------------------------------

constexpr std::string_view style_sheet = R"(
body{font:14px/1.45 "DejaVu Sans",Arial,sans-serif;color:#1d2430;margin:0;background:#f3f5f8}
main{max-width:1060px;margin:0 auto;padding:24px}
header.top{background:#1f3a5f;color:#fff;padding:18px 24px;border-radius:6px}
header.top h1{margin:0;font-size:22px}
header.top p{margin:4px 0 0}
.verdict{display:inline-block;margin-top:10px;padding:4px 10px;border-radius:4px;font-weight:bold}
.good{background:#2e7d32;color:#fff}.bad{background:#b3261e;color:#fff}
section{background:#fff;border:1px solid #d5dbe3;border-radius:6px;padding:14px 20px;margin-top:16px;
 break-inside:avoid}
section.list{break-inside:auto}
h2{font-size:17px;margin:0 0 10px;color:#1f3a5f}
table{border-collapse:collapse;width:100%}
th,td{text-align:left;vertical-align:top;padding:4px 8px;border-bottom:1px solid #e6e9ee}
table.kv th{width:200px;color:#4a5568;font-weight:normal}
td.num,th.num{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}
td.name,code,.mono{font-family:"DejaVu Sans Mono",Consolas,monospace;font-size:12.5px;overflow-wrap:break-word;word-break:break-word}
thead th{background:#eef2f7}
thead{display:table-header-group}
tr{break-inside:avoid}
.tiles{display:flex;gap:12px;flex-wrap:wrap;margin-bottom:12px}
.tile{flex:1;min-width:140px;border:1px solid #d5dbe3;border-radius:6px;padding:8px 12px}
.tile b{display:block;font-size:24px}
.tile.warn b{color:#b3261e}
.charts{display:flex;gap:16px;flex-wrap:wrap}
.charts figure{flex:1;min-width:300px;margin:0}
.charts svg{display:block;max-width:100%;height:auto}
figcaption{font-weight:bold;margin-bottom:6px}
pre{white-space:pre-wrap;margin:0}
.arg{display:inline-block;max-width:100%}
#seal-sha256,#seal td.mono{white-space:nowrap;font-size:12px}
.none{color:#6b7280}
footer{color:#6b7280;font-size:12px;margin:16px 4px}
footer p{margin:0 0 4px}
@page{size:A4;margin:14mm 12mm}
@media print{body{background:#fff;font-size:12.5px}main{max-width:none;padding:0}
 section,header.top{border-radius:0}header.top{background:#fff;color:#000;border:2px solid #1f3a5f}
 .verdict{-webkit-print-color-adjust:exact;print-color-adjust:exact}
 section{break-inside:auto}h2{break-after:avoid}#charts,footer{break-inside:avoid}
 .charts{display:block}.charts figure{margin:0 0 14px;break-inside:avoid}
 .charts svg{width:100%;max-width:480px}#seal td.mono{font-size:11px}}
)";

class Html {
public:
    void raw(std::string_view text) { out_ += text; }
    void text(std::string_view text) { out_ += html_text(text); }
    void row(std::string_view label, std::string_view escaped_value, std::string_view id = {}) {
        out_ += "<tr><th>";
        out_ += label;
        out_ += "</th><td";
        if (!id.empty()) {
            out_ += " id=\"";
            out_ += id;
            out_ += '"';
        }
        out_ += '>';
        out_ += escaped_value;
        out_ += "</td></tr>\n";
    }
    void count_row(std::string_view label, std::uint64_t files, std::string_view id, const std::string& extra = {}) {
        out_ += "<tr><th>";
        out_ += label;
        out_ += "</th><td class=\"num\" id=\"";
        out_ += id;
        out_ += "\">";
        out_ += number(files);
        out_ += "</td><td>";
        out_ += extra;
        out_ += "</td></tr>\n";
    }
    std::string& str() { return out_; }

private:
    std::string out_;
};

// The command line with each argument kept whole on a line: a line
// breaks between arguments, and inside one only when it is wider than the
// line itself.
std::string command_line_html(const ReportContent& c) {
    if (c.arguments.empty()) {
        return html_text(util::shown_name(c.command_line));
    }
    std::string out;
    for (const std::string& argument : c.arguments) {
        if (!out.empty()) {
            out += ' ';
        }
        out += "<span class=\"arg\">";
        out += html_text(util::shown_name(argument));
        out += "</span>";
    }
    return out;
}

// The case the run belongs to, as the examiner gave it, first of all.
void case_section(Html& h, const ReportContent& c) {
    h.raw("<section id=\"case\"><h2>Case</h2><table class=\"kv\">\n");
    const std::array<std::array<std::string_view, 3>, 3> fields{{{"Case number", "case-number", c.case_number},
                                                                 {"Exhibit", "exhibit", c.exhibit},
                                                                 {"Examiner", "examiner", c.examiner}}};
    for (const auto& [label, id, value] : fields) {
        h.row(label, value.empty() ? "<span class=\"none\">not given</span>" : html_text(value), id);
    }
    h.row("Notes", c.notes.empty() ? "<span class=\"none\">none</span>" : "<pre>" + html_text(c.notes) + "</pre>",
          "notes");
    h.raw("</table></section>\n");
}

void run_section(Html& h, const ReportContent& c) {
    h.raw("<section id=\"run\"><h2>Run</h2><table class=\"kv\">\n");
    h.row("Program", html_text(c.program), "program");
    h.row("Host", html_text(c.host), "host");
    h.row("User", html_text(c.user), "user");
    h.row("Started", html_text(utc_text(c.start)) + "<br>" + html_text(c.start_local), "started");
    h.row("Ended", html_text(utc_text(c.end)) + "<br>" + html_text(c.end_local), "ended");
    std::array<char, 64> elapsed{};
    std::snprintf(elapsed.data(), elapsed.size(), "%.1f seconds", c.elapsed_seconds);
    h.row("Elapsed", elapsed.data(), "elapsed");
    h.row("Command line", "<code>" + command_line_html(c) + "</code>", "command-line");
    h.row("INI file", c.ini_file.empty() ? "<span class=\"none\">none</span>" : html_text(c.ini_file), "ini-file");
    if (!c.memo.empty()) {
        h.row("Memo", "<pre>" + html_text(c.memo) + "</pre>", "memo");
    }
    h.raw("</table></section>\n");
}

void what_section(Html& h, const ReportContent& c) {
    h.raw("<section id=\"what\"><h2>What was copied</h2><table class=\"kv\">\n");
    std::string sources;
    for (const std::string& source : c.sources) {
        sources += "<div class=\"mono\">" + html_text(source) + "</div>";
    }
    h.row("Sources", sources.empty() ? "<span class=\"none\">none</span>" : sources, "sources");
    h.row("Destination",
          c.destination.empty() ? "<span class=\"none\">none</span>"
                                : "<span class=\"mono\">" + html_text(c.destination) + "</span>",
          "destination");
    for (const auto& [label, words] : c.options) {
        h.row(html_text(label), html_text(words));
    }
    h.raw("</table></section>\n");
}

void outcome_section(Html& h, const ReportContent& c, const ReportTally& t) {
    const RunCounters& k = c.counters;
    std::uint64_t not_copied = t.unverified;
    for (const auto& [reason, count] : t.not_copied) {
        not_copied += count;
    }
    h.raw("<section id=\"outcome\"><h2>Outcome</h2><div class=\"tiles\">");
    const auto tile = [&h](std::string_view label, std::uint64_t value, bool warn) {
        h.raw(warn && value != 0 ? "<div class=\"tile warn\"><b>" : "<div class=\"tile\"><b>");
        h.raw(number(value));
        h.raw("</b>");
        h.raw(label);
        h.raw("</div>");
    };
    tile("files processed", static_cast<std::uint64_t>(k.files_processed), false);
    tile("files copied", static_cast<std::uint64_t>(k.files_copied), false);
    tile("failed", t.failures.size(), true);
    tile("mismatches", t.mismatches.size(), true);
    h.raw(
        "</div>\n<table class=\"counts\"><thead><tr><th>What</th><th class=\"num\">Files</th><th>Bytes and notes"
        "</th></tr></thead><tbody>\n");
    h.count_row(
        "Processed", static_cast<std::uint64_t>(k.files_processed), "files-processed",
        "<span id=\"bytes-processed\">" + number(static_cast<std::uint64_t>(k.bytes_processed)) + "</span> bytes");
    h.count_row("Copied", static_cast<std::uint64_t>(k.files_copied), "files-copied",
                "<span id=\"bytes-copied\">" + number(static_cast<std::uint64_t>(k.bytes_copied)) + "</span> bytes");
    h.count_row("&nbsp;&nbsp;new", static_cast<std::uint64_t>(k.files_new), "files-new");
    h.count_row("&nbsp;&nbsp;updated", static_cast<std::uint64_t>(k.files_updated), "files-updated");
    h.count_row("Not copied", not_copied, "files-not-copied");
    for (const auto& [reason, count] : t.not_copied) {
        h.raw("<tr class=\"reason\"><th>&nbsp;&nbsp;");
        h.text(reason);
        h.raw("</th><td class=\"num\">");
        h.raw(number(count));
        h.raw(is_failure(reason) ? "</td><td>a failure</td></tr>\n" : "</td><td></td></tr>\n");
    }
    if (t.unverified != 0) {
        h.raw("<tr class=\"reason\"><th>&nbsp;&nbsp;copy not verified</th><td class=\"num\">");
        h.raw(number(t.unverified));
        h.raw("</td><td>the copy stays in the destination, marked as a mismatch</td></tr>\n");
    }
    h.count_row("Renamed (name taken)", t.renames.size(), "files-renamed");
    h.count_row("Failed", t.failures.size(), "files-failed");
    h.count_row("Mismatches", t.mismatches.size(), "files-mismatched");
    h.count_row("Streams extracted", std::max<std::uint64_t>(t.streams, static_cast<std::uint64_t>(k.ads_files_copied)),
                "streams-extracted");
    h.raw("</tbody></table>\n<table class=\"kv\">\n");
    // The status with its meaning in words, not the internal name.
    h.row("Exit status", "<b id=\"exit-status\">" + std::to_string(c.exit_status) + "</b> &mdash; " +
                             html_text(exit_status_meaning(c.exit_status)) +
                             (c.summary_written ? "" : " (the run ended without its summary)"));
    std::array<char, 96> rate{};
    const double seconds = c.elapsed_seconds > 0.001 ? c.elapsed_seconds : 0.001;
    const double copied_mb = static_cast<double>(k.bytes_copied) / 1e6;
    std::snprintf(rate.data(), rate.size(), "%.2f MB/s copied, %.1f files/s processed", copied_mb / seconds,
                  static_cast<double>(k.files_processed) / seconds);
    h.row("Throughput", rate.data(), "throughput");
    h.row("Sources' last access",
          k.sources_access_moved == 0
              ? std::string("left as found")
              : "<b>moved</b> on " + number(static_cast<std::uint64_t>(k.sources_access_moved)) +
                    " sources the account could neither read unseen nor put back",
          "sources-access-moved");
    h.row("Owners of the copies",
          paths::native_style == paths::Style::windows ? std::string("the account that ran the copy")
          : k.owners_not_kept == 0
              ? std::string("kept: every copy has its source's owner, group and mode bits")
              : "<b>not kept</b> on " + number(static_cast<std::uint64_t>(k.owners_not_kept)) +
                    " copies: they belong to the account that ran the copy, with the mode bits it may set",
          "owners-kept");
    h.raw("</table></section>\n");
}

// What the copies that were not verified are, so that the two counts
// above add up: links (made again as links, nothing to hash), copies that
// differ or whose source changed, and copies not hashed at all.
std::string unverified_words(const ReportContent& c, const ReportTally& t) {
    const std::uint64_t others = t.copies > t.verified ? t.copies - t.verified : 0;
    if (others == 0) {
        return {};
    }
    const std::uint64_t changed = t.mismatches.size() - std::min<std::uint64_t>(t.unverified, t.mismatches.size());
    const std::uint64_t accounted = t.links + t.unverified + changed;
    const std::uint64_t unhashed = others > accounted ? others - accounted : 0;
    const std::string links_text = " links, made again as links with the same target: a link holds no data to hash";
    if (unhashed == others && c.digest_kinds.empty()) {
        return ". No digests were chosen: no copy was hashed.";
    }
    if (t.links == others) {
        return ". The other <span id=\"copies-links\">" + number(t.links) + "</span> are" + links_text + ".";
    }
    std::string parts;
    const auto part = [&parts](std::uint64_t count, std::string_view words) {
        if (count != 0) {
            parts += parts.empty() ? " " : "; ";
            parts += number(count);
            parts += words;
        }
    };
    part(t.links, links_text);
    part(t.unverified, " differ from their source (see Mismatches)");
    part(changed, " had a source that changed while it was copied");
    part(unhashed, c.digest_kinds.empty() ? " not hashed: no digests were chosen" : " not compared");
    return ". The other " + number(others) + ":" + parts + ".";
}

void proof_section(Html& h, const ReportContent& c, const ReportTally& t) {
    h.raw("<section id=\"proof\"><h2>Proof</h2><table class=\"kv\">\n");
    h.row("Copies verified",
          "<span id=\"copies-verified\">" + number(t.verified) + "</span> of " + number(t.copies) +
              " copies (source and copy digests equal)" + unverified_words(c, t),
          "verified");
    h.row("Digest kinds", c.digest_kinds.empty() ? "<span class=\"none\">no hashing</span>" : html_text(c.digest_kinds),
          "digest-kinds");
    h.row("Hash log",
          c.hash_log.empty() ? "<span class=\"none\">none</span>"
                             : "<span class=\"mono\">" + html_text(c.hash_log) + "</span>",
          "hash-log");
    h.row("Seal",
          c.seal_file.empty() ? "<span class=\"none\">none (no --SEAL)</span>"
                              : "<span class=\"mono\">" + html_text(c.seal_file) + "</span>",
          "seal-file");
    if (!c.seal_file.empty()) {
        h.row("SHA-256 of the seal",
              c.seal_sha256.empty()
                  ? std::string("<span class=\"none\">the seal could not be read back</span>")
                  : "<b class=\"mono\" id=\"seal-sha256\">" + html_text(c.seal_sha256) +
                        "</b><br>one digest to write in the case notes: it stands for the seal, and the seal for "
                        "every digest below (<code>sha256sum " +
                        html_text(paths::file_name(c.seal_file)) + "</code>)");
    }
    h.raw("</table>\n");
    if (!c.seal.empty()) {
        h.raw("<table id=\"seal\"><thead><tr><th>Log</th><th>SHA-256</th></tr></thead><tbody>\n");
        for (const SealEntry& e : c.seal) {
            h.raw("<tr><td class=\"name\">");
            h.text(util::shown_name(e.name));
            h.raw("</td><td class=\"mono\">");
            h.text(e.sha256);
            h.raw("</td></tr>\n");
        }
        h.raw("</tbody></table>\n");
    }
    if (!c.incomplete.empty()) {
        h.raw(
            "<table id=\"incomplete\"><thead><tr><th>Not written whole (not sealed)</th><th>Reason</th></tr>"
            "</thead><tbody>\n");
        for (const OutputFault& f : c.incomplete) {
            h.raw("<tr><td class=\"name\">");
            h.text(util::shown_name(f.path));
            h.raw("</td><td>");
            h.text(f.reason);
            h.raw("</td></tr>\n");
        }
        h.raw("</tbody></table>\n");
    }
    h.raw("</section>\n");
}

struct Bar {
    std::string label;  // plain text
    std::uint64_t value = 0;
    std::string value_text;
    bool rest = false;  // everything the other bars leave out
};

std::string bar_value_text(std::uint64_t bytes) {
    std::array<char, 32> text{};
    const std::array<const char*, 5> units{"B", "KB", "MB", "GB", "TB"};
    auto value = static_cast<double>(bytes);
    std::size_t unit = 0;
    while (value >= 1000 && unit + 1 < units.size()) {
        value /= 1000;
        ++unit;
    }
    std::snprintf(text.data(), text.size(), unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
    return text.data();
}

constexpr std::string_view bar_colour = "#3a6ea5";
constexpr std::string_view rest_colour = "#9aa5b1";

void svg_open(Html& h, std::string_view id, int width, int height) {
    std::array<char, 256> tag{};
    std::snprintf(tag.data(), tag.size(),
                  "<svg id=\"%.*s\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" role=\"img\" "
                  "font-family=\"DejaVu Sans,Arial,sans-serif\" font-size=\"12\">",
                  static_cast<int>(id.size()), id.data(), width, height, width, height);
    h.raw(tag.data());
}

std::uint64_t largest(const std::vector<Bar>& bars) {
    std::uint64_t top = 1;
    for (const Bar& b : bars) {
        top = std::max(top, b.value);
    }
    return top;
}

// Horizontal bars, one row per label, the value after the bar.
void bar_chart(Html& h, std::string_view id, const std::vector<Bar>& bars) {
    constexpr int row = 22;
    constexpr int label_width = 90;
    constexpr int bar_width = 240;
    const int height = static_cast<int>(bars.size()) * row + 6;
    const std::uint64_t top = largest(bars);
    svg_open(h, id, 480, height);
    std::array<char, 256> tag{};
    int y = 3;
    for (const Bar& b : bars) {
        const int width =
            std::max(1, static_cast<int>(static_cast<double>(b.value) * bar_width / static_cast<double>(top)));
        const std::string_view fill = b.rest ? rest_colour : bar_colour;
        std::snprintf(tag.data(), tag.size(), "<text x=\"%d\" y=\"%d\" text-anchor=\"end\">", label_width - 6, y + 15);
        h.raw(tag.data());
        h.text(b.label);
        std::snprintf(tag.data(), tag.size(),
                      "</text><rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"16\" fill=\"%.*s\"/>"
                      "<text x=\"%d\" y=\"%d\">",
                      label_width, y + 2, width, static_cast<int>(fill.size()), fill.data(), label_width + width + 6,
                      y + 15);
        h.raw(tag.data());
        h.text(b.value_text);
        h.raw("</text>");
        y += row;
    }
    h.raw("</svg>");
}

// Columns side by side, labelled below; with many columns only every
// few carry a label, and the largest carries its value.
void column_chart(Html& h, std::string_view id, const std::vector<Bar>& bars) {
    constexpr int width = 480;
    constexpr int left = 60;  // room for the largest count beside the axis
    constexpr int plot_height = 150;
    constexpr int top_margin = 16;
    const int height = top_margin + plot_height + 34;
    const std::uint64_t top = largest(bars);
    const int n = static_cast<int>(bars.size());
    constexpr double widest_step = 36;
    const double step = std::min(widest_step, static_cast<double>(width - left - 10) / n);
    const int label_every = std::max(1, (n + 7) / 8);
    svg_open(h, id, width, height);
    std::array<char, 256> tag{};
    std::snprintf(tag.data(), tag.size(),
                  "<text x=\"%d\" y=\"%d\" text-anchor=\"end\">%s</text>"
                  "<text x=\"%d\" y=\"%d\" text-anchor=\"end\">0</text>"
                  "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"1\" fill=\"#8792a2\"/>",
                  left - 6, top_margin + 10, number(top).c_str(), left - 6, top_margin + plot_height, left,
                  top_margin + plot_height, std::max(60, static_cast<int>(step * n)));
    h.raw(tag.data());
    for (int i = 0; i < n; ++i) {
        const Bar& b = bars[static_cast<std::size_t>(i)];
        const int bar_height =
            std::max(1, static_cast<int>(static_cast<double>(b.value) * plot_height / static_cast<double>(top)));
        const double x = left + i * step;
        const double bar_width = std::max(1.0, step * 0.8);
        std::snprintf(tag.data(), tag.size(),
                      "<rect x=\"%.1f\" y=\"%d\" width=\"%.1f\" height=\"%d\" fill=\"%.*s\"><title>", x,
                      top_margin + plot_height - bar_height, bar_width, bar_height, static_cast<int>(bar_colour.size()),
                      bar_colour.data());
        h.raw(tag.data());
        h.text(b.label + ": " + b.value_text);
        h.raw("</title></rect>");
        // Counted from the last column, so that it is labelled and no two
        // labels come closer than the others.
        if ((n - 1 - i) % label_every == 0) {
            std::snprintf(tag.data(), tag.size(), "<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\">",
                          x + bar_width / 2, top_margin + plot_height + 16);
            h.raw(tag.data());
            h.text(b.label);
            h.raw("</text>");
        }
    }
    h.raw("</svg>");
}

std::vector<Bar> type_bars(const ReportTally& t) {
    std::vector<std::pair<std::string, ReportTally::TypeTotal>> sorted(t.types.begin(), t.types.end());
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
        return a.second.bytes != b.second.bytes ? a.second.bytes > b.second.bytes : a.first < b.first;
    });
    constexpr std::size_t shown_types = 10;
    std::vector<Bar> bars;
    ReportTally::TypeTotal rest;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        if (i < shown_types) {
            bars.push_back({util::shown_name(sorted[i].first), sorted[i].second.bytes,
                            bar_value_text(sorted[i].second.bytes) + " in " + number(sorted[i].second.files), false});
        } else {
            rest.bytes += sorted[i].second.bytes;
            rest.files += sorted[i].second.files;
        }
    }
    if (rest.files != 0) {
        bars.push_back({"all others", rest.bytes, bar_value_text(rest.bytes) + " in " + number(rest.files), true});
    }
    return bars;
}

// Years as they are while they fit the chart; grouped by decade, then by
// century, when there are too many.
std::vector<Bar> year_bars(const ReportTally& t) {
    constexpr std::size_t most_bars = 60;
    for (const int span : {1, 10, 100, 1000}) {
        std::map<int, std::uint64_t> grouped;
        for (const auto& [year, files] : t.years) {
            grouped[year / span * span] += files;
        }
        if (grouped.size() > most_bars && span != 1000) {
            continue;
        }
        std::vector<Bar> bars;
        for (const auto& [first, files] : grouped) {
            std::string label = std::to_string(first);
            if (span == 10) {
                label += "s";
            } else if (span > 10) {
                label += "\xE2\x80\x93" + std::to_string(first + span - 1);
            }
            bars.push_back({label, files, number(files), false});
        }
        return bars;
    }
    return {};
}

void charts_section(Html& h, const ReportTally& t) {
    h.raw("<section id=\"charts\"><h2>The copies at a glance</h2><div class=\"charts\">\n");
    h.raw("<figure><figcaption>Bytes copied by file type (top 10 extensions)</figcaption>");
    const std::vector<Bar> types = type_bars(t);
    if (types.empty()) {
        h.raw("<p class=\"none\">no files copied</p>");
    } else {
        bar_chart(h, "chart-types", types);
    }
    h.raw("</figure>\n<figure><figcaption>Files copied by year last written (UTC)</figcaption>");
    const std::vector<Bar> years = year_bars(t);
    if (years.empty()) {
        h.raw("<p class=\"none\">no files copied</p>");
    } else {
        column_chart(h, "chart-years", years);
    }
    h.raw("</figure>\n</div></section>\n");
}

void list_section(Html& h, std::string_view id, std::string_view title, std::string_view detail_title,
                  const std::vector<ReportTally::Listed>& items, bool detail_is_path) {
    h.raw("<section class=\"list\" id=\"");
    h.raw(id);
    h.raw("\"><h2>");
    h.raw(title);
    h.raw(" (");
    h.raw(number(items.size()));
    h.raw(")</h2>");
    if (items.empty()) {
        h.raw("<p class=\"none\">none</p></section>\n");
        return;
    }
    h.raw("<table><thead><tr><th>#</th><th>File</th><th>");
    h.raw(detail_title);
    h.raw("</th></tr></thead><tbody>\n");
    std::size_t n = 0;
    for (const ReportTally::Listed& item : items) {
        h.raw("<tr><td class=\"num\">");
        h.raw(std::to_string(++n));
        h.raw("</td><td class=\"name\">");
        h.raw(shown(item.source));
        h.raw(detail_is_path ? "</td><td class=\"name\">" : "</td><td class=\"reason\">");
        h.raw(detail_is_path ? shown(item.detail) : html_text(item.detail));
        h.raw("</td></tr>\n");
    }
    h.raw("</tbody></table></section>\n");
}

std::string document_start(std::string_view title) {
    std::string out =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
    out += title;
    out += "</title>\n<style>";
    out += style_sheet;
    out += "</style></head>\n<body><main>\n";
    return out;
}

// ---- the run's report -----------------------------------------------------

// Hands each record to the tally; the report itself is written later.
class ReportFeed final : public ManifestWriter {
public:
    explicit ReportFeed(ReportTally& tally) : tally_(tally) {}
    void write(const FileRecord& record) override { tally_.add(record); }
    bool close() override { return true; }

private:
    ReportTally& tally_;
};

std::string digest_kinds(const HashOptions& h) {
    if (!h.any()) {
        return {};
    }
    std::string kinds = "MD5";
    const std::array<std::pair<int, const char*>, 4> more{
        {{h.sha1, ", SHA-1"}, {h.sha256, ", SHA-256"}, {h.sha384, ", SHA-384"}, {h.sha512, ", SHA-512"}}};
    for (const auto& [on, name] : more) {
        if (on != 0) {
            kinds += name;
        }
    }
    return kinds;
}

// The file's SHA-256 in lower case; empty when it cannot be read.
std::string sha256_of(const std::string& path) {
    hash::DigestReader reader(hash::DigestReader::smallest_buffer_size);
    hash::DigestSelection sha256_only;
    sha256_only.md5 = false;
    sha256_only.sha256 = true;
    hash::HashSet digests;
    if (reader.hash_file(path, sha256_only, digests) != hash::DigestStatus::ok) {
        return {};
    }
    return util::to_lower(digests.text(hash::DigestKind::sha256));
}

std::string placeholder(const Run& s) {
    std::string out = document_start("VELDRO acquisition report: run under way");
    out += "<header class=\"top\"><h1>Acquisition report</h1><p>The run that writes this report began at ";
    out += html_text(utc_text(s.progress.start_time));
    out +=
        " and has not ended. If this text is still here after the run, the program was stopped before it "
        "could write the report.</p><span class=\"verdict bad\">NOT FINISHED</span></header>\n</main></body></html>\n";
    return out;
}

}  // namespace

std::string html_text(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    for (const char c : in) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                if ((static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') || c == 0x7F) {
                    out += "\xEF\xBF\xBD";
                } else {
                    out += c;
                }
        }
    }
    return out;
}

std::string extension_of(std::string_view file_name) {
    constexpr std::size_t longest = 10;
    const std::size_t dot = file_name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == file_name.size()) {
        return "(none)";
    }
    const std::string_view ext = file_name.substr(dot + 1);
    if (ext.size() > longest) {
        return "(other)";
    }
    std::string out(ext);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

void ReportTally::add(const FileRecord& r) {
    ++records;
    if (!r.parent.empty() && r.verdict != Verdict::not_copied) {
        ++streams;
        return;
    }
    if (r.verdict == Verdict::not_copied) {
        const std::string words = reason_words(r.reason);
        ++not_copied[words];
        if (is_failure(words)) {
            failures.push_back({r.source, r.detail.empty() ? words : words + ": " + r.detail});
        }
        return;
    }
    ++copies;
    if (r.is_link) {
        ++links;
    }
    if (r.verdict == Verdict::verified) {
        ++verified;
    } else if (r.verdict == Verdict::mismatch) {
        ++unverified;
        mismatches.push_back({r.source, "the copy's digest differs from the source's after every retry"});
    } else if (r.verdict == Verdict::source_changed) {
        mismatches.push_back({r.source, "the source changed while it was copied"});
    }
    if (!r.renamed_from.empty()) {
        renames.push_back({r.source, r.destination});
    }
    std::string type = extension_of(paths::file_name(r.source));
    if (types.size() >= max_types && types.find(type) == types.end()) {
        type = "(other)";
    }
    TypeTotal& total = types[type];
    total.bytes += r.size;
    ++total.files;
    if (r.times_known && r.times.last_write.ticks != 0) {
        ++years[year_of(r.times.last_write)];
    }
}

std::string exit_status_meaning(int status) {
    switch (status) {
        case NORMAL_EXIT:
            return "the run ended normally";
        case USER_ABORTED:
            return "stopped by the user (interrupt, Escape, or \"N\" to the destination question)";
        case INPUT_FILE:
            return "an input file or source could not be found or opened";
        case OUTPUT_FILE:
            return "a log or output file could not be opened";
        case PARAMATER_FILE:
            return "a parameter file could not be read";
        case ILLEGAL_OPTION:
            return "an illegal or incomplete option";
        case MEMORY_ERROR:
            return "memory could not be had";
        case OTHER_EXIT:
            return "the backup privileges could not be looked up";
        case WRITE_ERROR:
            return "some file could not be copied, or its copy still differed from its source after the retries";
        case READ_ERROR:
            return "a source could not be read";
        default:
            return "the run did not end normally";
    }
}

namespace {

using Words = std::vector<std::pair<std::string, std::string>>;

// Which files the walk takes: where from, by name, by date and by size.
void selection_in_words(const Run& s, Words& out) {
    const SelectionOptions& sel = s.selection;
    if (s.paths.list_file_mode != 0) {
        out.emplace_back("Files", "the files named in a list file");
    } else {
        out.emplace_back("Files", sel.recurse != 0 ? "the source trees with every sub-directory"
                                                   : "the source directories only, no sub-directories");
    }
    out.emplace_back("Name patterns", sel.type_list.empty() ? "*.*" : join_shown(sel.type_list, false));
    if (!sel.exclude_list.empty()) {
        out.emplace_back(sel.exclude_keep_case != 0 ? "Excluded (case kept)" : "Excluded (any case)",
                         join_shown(sel.exclude_list, false));
    }
    if (!sel.bypass_list.empty()) {
        out.emplace_back("Directories bypassed", join_shown(sel.bypass_list, true));
    }
    out.emplace_back("Dates", sel.copy_all != 0 ? "copied regardless of the copy's date"
                                                : "only files newer than their copy in the destination");
    if (sel.exist_only != 0) {
        out.emplace_back("Existing copies", "only files whose copy already exists");
    }
    const char* time_used = sel.time_field == 'a' || sel.time_field == 'A'   ? "last access"
                            : sel.time_field == 'c' || sel.time_field == 'C' ? "creation"
                                                                             : "last write";
    if (sel.older_select != 0) {
        out.emplace_back("Older than", file_time_date(sel.older_cutoff) + " (" + time_used + ")");
    }
    if (sel.younger_select != 0) {
        out.emplace_back("Newer than", file_time_date(sel.younger_cutoff) + " (" + time_used + ")");
    }
    if (sel.greater_select != 0) {
        out.emplace_back("At least", util::with_separators(sel.greater_size) + " bytes");
    }
    if (sel.less_select != 0) {
        out.emplace_back("At most", util::with_separators(sel.less_size) + " bytes");
    }
}

std::string attributes_in_words(const SelectionOptions& sel) {
    std::string attrs;
    const std::array<std::pair<int, const char*>, 6> named{{{sel.attr_readonly, "read-only"},
                                                            {sel.attr_hidden, "hidden"},
                                                            {sel.attr_system, "system"},
                                                            {sel.attr_archive, "archive"},
                                                            {sel.attr_encrypted, "encrypted"},
                                                            {sel.attr_dir_count, "directory"}}};
    for (const auto& [on, name] : named) {
        if (on != 0) {
            attrs += attrs.empty() ? name : std::string(", ") + name;
        }
    }
    return attrs;
}

std::string hashing_in_words(const HashOptions& h) {
    if (!h.any()) {
        return "none";
    }
    const bool one_side = !h.compare && h.hash_sources != h.hash_copies;
    std::string hashing = digest_kinds(h) + (one_side && h.hash_sources  ? " of the sources"
                                             : one_side && h.hash_copies ? " of the copies"
                                                                         : " of sources and copies, compared");
    if (h.retries > 0) {
        hashing += "; a copy that differs is made again up to " + std::to_string(h.retries) + " times";
    }
    return hashing;
}

std::string flattening_in_words(const CopyOptions& copy) {
    if (copy.flatten == 0) {
        return "no: the source tree is repeated below the destination";
    }
    std::string flat = "yes: every file into the destination directory";
    if (copy.flatten > 5) {
        flat += ", in numbered folders of " + std::to_string(copy.flatten) + " files";
    }
    if (copy.no_dupe != 0) {
        flat += "; a taken name is renamed, never overwritten";
    }
    return flat;
}

const char* streams_in_words(const CopyOptions& copy) {
    if (copy.ads_child != 0) {
        return "only the named streams are copied, as files";
    }
    if (copy.ads_parent != 0) {
        return "only files with named streams, which are extracted beside their copies";
    }
    if (copy.ads_extract != 0) {
        return "named streams are extracted into files beside the copies";
    }
    return "named streams are not extracted";
}

}  // namespace

std::vector<std::pair<std::string, std::string>> options_in_words(const Run& s) {
    Words out;
    selection_in_words(s, out);
    if (s.selection.attr_filter != 0) {
        out.emplace_back("Attributes", attributes_in_words(s.selection));
    }
    out.emplace_back("Hashing", hashing_in_words(s.hashing));
    out.emplace_back("Flattening", flattening_in_words(s.copy));
    out.emplace_back("Streams", streams_in_words(s.copy));
    if (s.copy.reset_times != 0) {
        out.emplace_back("Source times", "put back after reading");
    }
    if (s.copy.list_only != ListOnly::off) {
        out.emplace_back("Listing only", "nothing is copied");
    }
    if (s.copy.overwrite_protected != 0) {
        out.emplace_back("Protected copies", "replaced");
    }
    return out;
}

std::string render_report(const ReportContent& c, const ReportTally& t) {
    Html h;
    h.raw(document_start("VELDRO acquisition report"));
    const bool good = c.exit_status == NORMAL_EXIT && c.summary_written && t.failures.empty() && t.mismatches.empty();
    h.raw("<header class=\"top\"><h1>Acquisition report</h1><p>");
    if (!c.case_number.empty()) {
        h.text("Case " + c.case_number + (c.exhibit.empty() ? "" : ", exhibit " + c.exhibit));
        h.raw(" &middot; ");
    }
    h.text(c.program);
    h.raw(" &middot; ");
    h.text(utc_text(c.start));
    h.raw("</p><span class=\"verdict ");
    h.raw(good ? "good\" id=\"verdict\">" : "bad\" id=\"verdict\">");
    if (good) {
        h.text("COMPLETE: every selected file copied and verified as chosen");
    } else if (!c.summary_written) {
        h.text("ENDED EARLY, without the run summary: status " + std::to_string(c.exit_status));
    } else {
        h.text("ENDED WITH PROBLEMS: status " + std::to_string(c.exit_status) + ", " +
               exit_status_meaning(c.exit_status));
    }
    h.raw("</span></header>\n");
    case_section(h, c);
    run_section(h, c);
    what_section(h, c);
    outcome_section(h, c, t);
    proof_section(h, c, t);
    charts_section(h, t);
    list_section(h, "failures", "Failures", "Reason", t.failures, false);
    list_section(h, "mismatches", "Mismatches", "Reason", t.mismatches, false);
    list_section(h, "renamed", "Renamed files", "Copied as", t.renames, true);
    h.raw(
        "<footer><p>Sizes are in bytes; where shortened, 1 KB = 1,000 bytes, 1 MB = 1,000,000 bytes and 1 GB = "
        "1,000,000,000 bytes.</p>");
    if (paths::native_style == paths::Style::posix) {
        h.raw(
            "<p>Names are shown as in the logs: a backslash, a control character or a byte that is not UTF-8 is "
            "written as an escape (\\\\, \\n, \\xHH).</p>");
    }
    if (!c.seal_file.empty()) {
        h.raw("<p>The seal was written before this report and does not list it.</p>");
    }
    h.raw("</footer>\n</main></body></html>\n");
    return std::move(h.str());
}

void open_report(Run& s) {
    ReportState& r = s.files.recorder->report;
    if (s.logs.report_path.empty() || r.opened) {
        return;
    }
    make_log_directory(s.logs.report_path);
    ProofFile file = create_proof_file(s.files, paths::make_long_path(s.logs.report_path), s.logs.default_log_path);
    if (file.stream == nullptr) {
        std::fprintf(stdout, "\ncan't open %s file \n\n", s.logs.report_path.c_str());
        r.written = true;  // no second attempt at the end
        throw util::RunEnd{OUTPUT_FILE};
    }
    std::FILE* stream = file.stream;
    r.path = std::move(file.path);
    const std::string text = placeholder(s);
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fclose(stream);
    r.opened = true;
    subscribe(s.files, std::make_unique<ReportFeed>(r.tally));
}

void write_report(Run& s, int exit_status, bool summary_written) {
    ReportState& r = s.files.recorder->report;
    if (s.logs.report_path.empty() || r.written) {
        return;
    }
    r.written = true;
    ReportContent c;
    c.program = "VELDRO " + util::program_version_text();
    const platform::ExecutionIdentity id = platform::execution_identity();
    c.host = id.host;
    c.user = id.username;
    // The run's start and end as the summaries show them.
    c.start = s.progress.start_time;
    c.end = s.progress.end_time;
    c.start_local = local_text(c.start);
    c.end_local = local_text(c.end);
    c.elapsed_seconds = elapsed_seconds(s.progress);
    c.command_line = s.logs.command_line;
    while (!c.command_line.empty() && c.command_line.back() == ' ') {
        c.command_line.pop_back();
    }
    c.arguments = s.logs.arguments;
    c.case_number = s.logs.case_number;
    c.exhibit = s.logs.exhibit;
    c.examiner = s.logs.examiner;
    c.notes = s.logs.notes;
    c.ini_file = s.logs.ini_path;
    c.memo = s.logs.memo_text;
    for (const std::string& source : s.paths.source_paths) {
        c.sources.push_back(paths::shown_path(source));
    }
    c.destination = s.paths.dest_path.empty() ? std::string() : paths::shown_path(s.paths.dest_path);
    c.options = options_in_words(s);
    c.exit_status = exit_status;
    c.summary_written = summary_written;
    c.counters = s.counters;
    c.digest_kinds = digest_kinds(s.hashing);
    c.hash_log = s.hashing.hash_log_path.empty() ? std::string()
                                                 : paths::shown_path(paths::make_long_path(s.hashing.hash_log_path));
    const std::string& seal = seal_path(s.files);
    c.seal_file = seal.empty() ? std::string() : paths::shown_path(seal);
    c.seal_sha256 = seal.empty() ? std::string() : sha256_of(seal);
    c.seal = seal_entries(s.files);
    c.incomplete = output_faults(s.files);

    // Over the placeholder this run created, or a file of its own when
    // the run ended before it had one.
    std::FILE* stream = nullptr;
    std::string path = r.path;
    if (path.empty()) {
        make_log_directory(s.logs.report_path);
        // The default log may be sealed by now: only the console says it.
        ProofFile file = create_proof_file(s.files, paths::make_long_path(s.logs.report_path), {});
        stream = file.stream;
        path = file.stream == nullptr ? paths::make_long_path(s.logs.report_path) : std::move(file.path);
    } else {
        stream = platform::open_stream(path, "wb");
    }
    if (stream == nullptr) {
        std::fprintf(stderr, "\nCan't open report file %s\n", paths::shown_path(path).c_str());
        return;
    }
    const std::string text = render_report(c, r.tally);
    std::fwrite(text.data(), 1, text.size(), stream);
    (void)close_output(s.files, stream, path);  // a failure is said and kept there
}

}  // namespace veldro::record
