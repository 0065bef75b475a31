// The report: a row's figures from its rounds, verdicts, the Markdown table
// (rows of several platforms can be joined under one header) and the raw
// figures as JSON.
#include "bench.h"

#include <algorithm>
#include <cstdio>

void bench_fillPaired(bench_row* r, const std::vector<double>& library, const std::vector<double>& floor,
                      const std::vector<std::size_t>& blocks, double top)
{
    r->median = bench_median(library);
    r->p99 = bench_percentile(library, top);
    r->floorMedian = bench_median(floor);
    r->floorP99 = bench_percentile(floor, top);
    r->ratio = bench_pairedRatio(library, floor);
    r->interval = bench_pairedIntervalOfBlocks(library, floor, blocks);
    r->rounds = bench_roundRatios(library, floor);
    r->blocks = blocks;
}

bench_verdict bench_decide(const bench_interval& interval, double limit)
{
    if (interval.high < interval.low)
        return BENCH_NOT_MEASURED;
    if (interval.high <= limit)
        return BENCH_PASS;
    if (interval.low > limit)
        return BENCH_MISS;
    return BENCH_NOISE;
}

bench_interval bench_widen(const bench_interval& interval, double margin)
{
    if (interval.high < interval.low || margin <= 0)
        return interval;
    bench_interval wide;
    wide.low = interval.low / (1 + margin);
    wide.high = interval.high * (1 + margin);
    return wide;
}

bench_verdict bench_judge(const bench_row& row)
{
    if (row.samples <= 0)
        return BENCH_NOT_MEASURED;
    if (row.failures > 0)
        return BENCH_MISS;
    if (row.interval.high < row.interval.low) {
        bench_interval point;
        point.low = point.high = row.ratio;
        return bench_decide(bench_widen(point, row.margin), row.limit);
    }
    return bench_decide(bench_widen(row.interval, row.margin), row.limit);
}

bool bench_decidable(const bench_row& row)
{
    bench_interval point;
    point.low = point.high = row.ratio;
    return bench_decide(bench_widen(point, row.margin), row.limit) != BENCH_NOISE;
}

int bench_moreRounds(bench_verdict verdict, int taken, int step, int bound)
{
    if (verdict != BENCH_NOISE || taken >= bound || step < 1)
        return 0;
    return std::min(step, bound - taken);
}

const char* bench_verdictText(bench_verdict verdict)
{
    switch (verdict) {
    case BENCH_PASS:
        return "pass";
    case BENCH_MISS:
        return "miss";
    case BENCH_NOISE:
        return "within noise";
    case BENCH_INFO:
        return "for information";
    default:
        return "n/a";
    }
}

namespace {

std::string bench_number(double value, const char* format)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Milliseconds with three decimals, seconds with four, counts whole.
const char* bench_valueFormat(const std::string& unit)
{
    if (unit == "ms")
        return "%.3f";
    if (unit == "s")
        return "%.4f";
    return "%.0f";
}

} // namespace

std::string bench_table(const bench_report& report, bool header)
{
    std::string out;
    if (header) {
        out +=
            "| platform | measurement | n | median | p99 | floor median | floor p99 | ratio | 99% interval | target | "
            "MB/s (floor) | result | note |\n"
            "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|---|\n";
    }
    for (const bench_row& row : report.rows) {
        const char* f = bench_valueFormat(row.unit);
        std::string u = row.unit.empty() ? "" : " " + row.unit;
        bool measured = row.samples > 0;
        out += "| " + report.platform + (report.quick ? " (quick)" : "") + " | " + row.name + " | " +
               std::to_string(row.samples) + " | ";
        out += measured && !row.unit.empty() ? bench_number(row.median, f) + u : "-";
        out += " | ";
        out += measured && row.p99 > 0 ? bench_number(row.p99, f) + u : "-";
        out += " | ";
        out += measured && row.floorMedian > 0 ? bench_number(row.floorMedian, f) + u : "-";
        out += " | ";
        out += measured && row.floorP99 > 0 ? bench_number(row.floorP99, f) + u : "-";
        out += " | ";
        out += measured && (row.floorMedian > 0 || row.ratio > 0) ? bench_number(row.ratio, "%.2f") + "x" : "-";
        out += " | ";
        out += measured && row.interval.high >= row.interval.low
                   ? bench_number(row.interval.low, "%.2f") + "-" + bench_number(row.interval.high, "%.2f") + "x"
                   : "-";
        out += " | ";
        out += row.limit > 0 ? "<= " + bench_number(row.limit, "%.2f") + "x" : "-";
        if (row.limit > 0 && row.margin > 0)
            out += " (" + bench_number(100 * row.margin, "%.0f") + "% drift)";
        out += " | ";
        out += row.mbPerSecond > 0
                   ? bench_number(row.mbPerSecond, "%.0f") + " (" + bench_number(row.floorMbPerSecond, "%.0f") + ")"
                   : "-";
        out += " | ";
        out += bench_verdictText(row.verdict);
        if (row.verdict == BENCH_MISS && row.failures > 0)
            out += ", " + std::to_string(row.failures) + " failed calls";
        else if (row.verdict == BENCH_MISS && row.limit > 0)
            out += " by " + bench_number(row.ratio / row.limit, "%.2f") + "x";
        out += " | " + row.note + " |\n";
    }
    return out;
}

std::string bench_jsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string bench_json(const bench_report& report)
{
    std::string out = "{\"platform\": " + bench_jsonString(report.platform) +
                      ", \"quick\": " + (report.quick ? "true" : "false") + ", \"rows\": [";
    for (std::size_t i = 0; i < report.rows.size(); ++i) {
        const bench_row& r = report.rows[i];
        out += i ? ",\n  " : "\n  ";
        out +=
            "{\"group\": " + bench_jsonString(r.group) + ", \"name\": " + bench_jsonString(r.name) +
            ", \"unit\": " + bench_jsonString(r.unit) + ", \"samples\": " + std::to_string(r.samples) +
            ", \"failures\": " + std::to_string(r.failures) + ", \"median\": " + bench_number(r.median, "%.6f") +
            ", \"p99\": " + bench_number(r.p99, "%.6f") + ", \"floor_median\": " + bench_number(r.floorMedian, "%.6f") +
            ", \"floor_p99\": " + bench_number(r.floorP99, "%.6f") + ", \"ratio\": " + bench_number(r.ratio, "%.4f") +
            ", \"interval_low\": " + bench_number(r.interval.low, "%.4f") +
            ", \"interval_high\": " + bench_number(r.interval.high, "%.4f") +
            ", \"limit\": " + bench_number(r.limit, "%.4f") + ", \"margin\": " + bench_number(r.margin, "%.4f") +
            ", \"mb_per_s\": " + bench_number(r.mbPerSecond, "%.3f") +
            ", \"floor_mb_per_s\": " + bench_number(r.floorMbPerSecond, "%.3f") +
            ", \"verdict\": " + bench_jsonString(bench_verdictText(r.verdict)) +
            ", \"note\": " + bench_jsonString(r.note);
        out += ", \"rounds\": [";
        for (std::size_t k = 0; k < r.rounds.size(); ++k)
            out += (k ? "," : "") + bench_number(r.rounds[k], "%.4f");
        out += "], \"blocks\": [";
        for (std::size_t k = 0; k < r.blocks.size(); ++k)
            out += (k ? "," : "") + std::to_string(r.blocks[k]);
        out += "]}";
    }
    return out + "\n]}\n";
}
