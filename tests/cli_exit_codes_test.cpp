// The exit codes stand once, in cli/exit.cpp's table: --help is made from it,
// and the documents and the collection's module_utils that list or name
// codes must say what the table says.
#include "cli.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string readText(const std::string& relative)
{
    std::ifstream in(std::string(ORMI_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<exit_code> table()
{
    std::size_t count = 0;
    const exit_code* codes = exit_table(&count);
    return std::vector<exit_code>(codes, codes + count);
}

std::string withoutBackticks(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), '`'), text.end());
    return text;
}

// number -> "name|text" as a document lists them.
typedef std::map<int, std::string> listing;

listing fromTable()
{
    listing out;
    for (const exit_code& e : table())
        out[e.number] = std::string(e.name) + "|" + e.text;
    return out;
}

} // namespace

TEST(ExitCodes, TableRunsFromZeroWithoutGapsAndNamesOnce)
{
    std::vector<exit_code> codes = table();
    ASSERT_EQ(codes.size(), (std::size_t)ORMI_EXIT_SIGNATURE + 1);
    std::map<std::string, int> names;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        EXPECT_EQ(codes[i].number, (int)i);
        EXPECT_EQ(names.count(codes[i].name), 0u) << codes[i].name;
        names[codes[i].name] = codes[i].number;
        EXPECT_STREQ(exit_name(codes[i].number), codes[i].name);
    }
    EXPECT_STREQ(exit_name(-1), "failed");
    EXPECT_STREQ(exit_name(13), "failed");
}

TEST(ExitCodes, HelpListsEveryCodeWithItsText)
{
    EXPECT_EQ(exit_helpText(),
              "Exit codes: 0 done, 1 refused by the device, 2 bad usage, 3 device unreachable,\n"
              "  4 login refused, 5 package does not fit the device, 6 upload failed, 7 installation failed,\n"
              "  8 device not back after reboot, 9 package corrupt, 10 not all devices succeeded,\n"
              "  11 the device came back with another version than --expect-version,\n"
              "  12 the package is not signed by a trusted key.\n");
}

TEST(ExitCodes, CliReferenceTableIsTheTable)
{
    std::string text = readText("docs/cli.md");
    std::size_t section = text.find("# EXIT STATUS");
    ASSERT_NE(section, std::string::npos) << "docs/cli.md has no EXIT STATUS section";
    std::size_t end = text.find("\n# ", section + 1);
    std::string part = withoutBackticks(text.substr(section, end == std::string::npos ? end : end - section));
    listing documented;
    std::regex row(R"re(\n\| *(\d+) *\| *([^|]*?) *\| *([^|]*?) *\|)re");
    for (std::sregex_iterator m(part.begin(), part.end(), row), none; m != none; ++m)
        documented[std::stoi((*m)[1])] = (*m)[2].str() + "|" + (*m)[3].str();
    EXPECT_EQ(documented, fromTable());
}

TEST(ExitCodes, CollectionModuleUtilsIsTheTable)
{
    std::string text = readText("ansible/ansible_collections/ormi/devices/plugins/module_utils/ormi.py");
    std::size_t start = text.find("EXIT_CODES = {");
    ASSERT_NE(start, std::string::npos);
    std::string part = text.substr(start, text.find("\n}", start) - start);
    listing listed;
    std::regex entry(R"re(\n +(\d+): \("([^"]*)", "([^"]*)"\),)re");
    for (std::sregex_iterator m(part.begin(), part.end(), entry), none; m != none; ++m)
        listed[std::stoi((*m)[1])] = (*m)[2].str() + "|" + (*m)[3].str();
    EXPECT_EQ(listed, fromTable());
}

// Prose that names a code: "exit code N" must be a code of the table, and a
// name or quoted text of the table just before it must be N's; a result name
// (quoted or in backticks, with a hyphen) in a paragraph about the `result`
// field must be one of the table's.
TEST(ExitCodes, DocumentsNameCodesAsTheTableDoes)
{
    const char* files[] = { "README.md",
                            "CONTRIBUTING.md",
                            "docs/cli.md",
                            "docs/fleets.md",
                            "docs/integrating.md",
                            "docs/library.md",
                            "docs/known-issues.md",
                            "ansible/ansible_collections/ormi/devices/README.md",
                            "ansible/ansible_collections/ormi/devices/plugins/modules/ormi_update.py",
                            "ansible/ansible_collections/ormi/devices/plugins/modules/ormi_info.py",
                            "bindings/python/README.md",
                            "bindings/dotnet/README.md",
                            "bindings/labview/README.md" };
    std::vector<exit_code> codes = table();
    std::regex codeMention(R"re(exit\s+code\s+(\d+))re", std::regex::icase);
    std::regex quotedName(R"re([`"]([a-z]+(-[a-z]+)+)[`"])re");
    for (const char* file : files) {
        SCOPED_TRACE(file);
        std::string text = readText(file);
        if (text.empty())
            continue; // a document not written (yet) names nothing
        for (std::sregex_iterator m(text.begin(), text.end(), codeMention), none; m != none; ++m) {
            int number = std::stoi((*m)[1]);
            if ((std::size_t)number >= codes.size()) {
                ADD_FAILURE() << "no such code: " << m->str();
                continue;
            }
            std::string before =
                text.substr(m->position() > 60 ? m->position() - 60 : 0, m->position() > 60 ? 60 : m->position());
            for (const exit_code& e : codes) {
                bool named = before.find("\"" + std::string(e.text) + "\"") != std::string::npos ||
                             before.find("`" + std::string(e.name) + "`") != std::string::npos;
                EXPECT_TRUE(!named || e.number == number) << "\"" << before << m->str() << "\" names " << e.name;
            }
        }
        std::size_t at = 0;
        while (at < text.size()) {
            std::size_t next = text.find("\n\n", at);
            std::string paragraph = text.substr(at, next == std::string::npos ? std::string::npos : next - at);
            at = next == std::string::npos ? text.size() : next + 2;
            if (paragraph.find("`result`") == std::string::npos && paragraph.find("\"result\"") == std::string::npos)
                continue;
            for (std::sregex_iterator m(paragraph.begin(), paragraph.end(), quotedName), none; m != none; ++m) {
                std::string name = (*m)[1];
                bool known = false;
                for (const exit_code& e : codes)
                    known = known || name == e.name;
                EXPECT_TRUE(known) << "result name " << name << " in: " << paragraph;
            }
        }
    }
}
