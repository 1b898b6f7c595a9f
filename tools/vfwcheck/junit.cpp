// The JUnit XML report (--junit FILE), in the form CI systems read (Ant's
// JUnit schema and its "junit-10" variant): testsuites, a testsuite for each
// group with its properties, a testcase for each check line, then the
// suite's system-out and system-err. A failure is a <failure>; a warning or
// an information line a property of the suite ("warning", "info"); a group
// not run a skipped testcase. The text is ASCII: anything else is written as
// a character reference.
#include <cstdio>
#include "runner.h"

// Escaped for an attribute or element text; control characters that XML
// does not allow are left out.
static std::string Xml(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else if (c == '\'')
            out += "&apos;";
        else if (c == '\t' || c == '\n' || c == '\r')
            out += "&#" + std::to_string(c) + ";";
        else if (c >= 0x20 && c < 0x80)
            out += static_cast<char>(c);
        else if (c >= 0x80) {
            // One character of the ANSI code page, a lead byte with its trail where it has one.
            int length = IsDBCSLeadByte(c) && i + 1 < text.size() ? 2 : 1;
            WCHAR wide = 0;
            if (MultiByteToWideChar(CP_ACP, 0, text.c_str() + i, length, &wide, 1) == 1)
                out += "&#" + std::to_string(wide) + ";";
            i += length - 1;
        }
    }
    return out;
}

static std::string Seconds(DWORD ms)
{
    char text[24];
    std::snprintf(text, sizeof text, "%lu.%03lu", ms / 1000, ms % 1000);
    return text;
}

// The rule of a check line, "KIND rule: text" with a kind of four letters.
static std::string Rule(const std::string &line)
{
    size_t colon = line.find(':');
    return line.substr(5, colon == std::string::npos ? std::string::npos : colon - 5);
}

static void WriteSuite(FILE *out, int id, const GroupResult &g, const std::vector<std::string> &about,
                       const std::string &host)
{
    const ChildRun &run = g.run;
    bool skipped = run.skipped && !run.passes && !run.fails;
    int tests = skipped ? 1 : run.passes + run.fails + run.warnings;
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02uT%02u:%02u:%02u", g.started.wYear, g.started.wMonth,
                  g.started.wDay, g.started.wHour, g.started.wMinute, g.started.wSecond);
    std::fprintf(out, "  <testsuite name=\"%s\" package=\"vfwcheck\" id=\"%d\" tests=\"%d\" failures=\"%d\" "
                 "errors=\"0\" skipped=\"%d\" time=\"%s\" timestamp=\"%s\" hostname=\"%s\">\n", Xml(g.name).c_str(), id,
                 tests, run.fails, skipped ? 1 : 0, Seconds(g.ms).c_str(), stamp, Xml(host).c_str());
    std::fprintf(out, "    <properties>\n");
    for (const std::string &line : about) {
        size_t colon = line.find(": ");
        if (colon != std::string::npos && colon)
            std::fprintf(out, "      <property name=\"%s\" value=\"%s\"/>\n", Xml(line.substr(0, colon)).c_str(),
                         Xml(line.substr(colon + 2)).c_str());
    }
    for (const ReportLine &line : run.lines) {
        const char *kind = !line.text.compare(0, 5, "WARN ") ? "warning" : !line.text.compare(0, 5, "info ") ? "info" : NULL;
        if (kind)
            std::fprintf(out, "      <property name=\"%s\" value=\"%s\"/>\n", kind, Xml(line.text.substr(5)).c_str());
    }
    std::fprintf(out, "    </properties>\n");
    std::string classname = Xml("vfwcheck." + g.name), other;
    if (skipped)
        std::fprintf(out, "    <testcase name=\"%s\" classname=\"%s\" time=\"0.000\"><skipped message=\"not run: no "
                     "fault injection device\"/></testcase>\n", Xml(g.name).c_str(), classname.c_str());
    DWORD previous = 0;
    for (const ReportLine &line : run.lines) {
        bool check = !line.text.compare(0, 5, "pass ") || !line.text.compare(0, 5, "FAIL ") ||
                     !line.text.compare(0, 5, "WARN ") || !line.text.compare(0, 5, "info ");
        if (!check) {
            other += line.text + "\n";
            continue;
        }
        DWORD took = line.at > previous ? line.at - previous : 0;
        previous = line.at;
        std::fprintf(out, "    <testcase name=\"%s\" classname=\"%s\" time=\"%s\"", Xml(Rule(line.text)).c_str(),
                     classname.c_str(), Seconds(took).c_str());
        if (line.text.compare(0, 5, "FAIL "))
            std::fprintf(out, "/>\n");
        else
            std::fprintf(out, "><failure type=\"%s\" message=\"%s\">%s</failure></testcase>\n",
                         Xml(Rule(line.text)).c_str(), Xml(line.text.substr(5)).c_str(), Xml(line.text).c_str());
    }
    std::fprintf(out, "    <system-out>%s</system-out>\n    <system-err></system-err>\n  </testsuite>\n",
                 Xml(other).c_str());
}

bool WriteJUnit(const char *file, const std::vector<GroupResult> &groups, const std::vector<std::string> &about)
{
    FILE *out = std::fopen(file, "wb");
    if (!out)
        return false;
    char name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof name;
    std::string host = GetComputerNameA(name, &size) && size ? name : "localhost";
    std::fprintf(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n");
    for (size_t i = 0; i < groups.size(); i++)
        WriteSuite(out, static_cast<int>(i), groups[i], about, host);
    std::fprintf(out, "</testsuites>\n");
    return std::fclose(out) == 0;
}
