// The exit codes' one table: number, the name --json results carry, and the
// short text of --help. docs/cli.md and the collection's module_utils are
// held against it by cli_exit_codes_test.
#include "cli.h"
#include "package.h"

static_assert(PACKAGE_EXIT_NOFIT == ORMI_EXIT_NOFIT && PACKAGE_EXIT_CORRUPT == ORMI_EXIT_CORRUPT,
              "the package check's exit codes are the table's");

namespace {

const exit_code table[] = {
    { ORMI_EXIT_OK, "ok", "done" },
    { ORMI_EXIT_FAILED, "failed", "refused by the device" },
    { ORMI_EXIT_USAGE, "usage", "bad usage" },
    { ORMI_EXIT_UNREACHABLE, "unreachable", "device unreachable" },
    { ORMI_EXIT_LOGIN, "login-refused", "login refused" },
    { ORMI_EXIT_NOFIT, "package-does-not-fit", "package does not fit the device" },
    { ORMI_EXIT_UPLOAD, "upload-failed", "upload failed" },
    { ORMI_EXIT_INSTALL, "installation-failed", "installation failed" },
    { ORMI_EXIT_REBOOT, "not-back-after-reboot", "device not back after reboot" },
    { ORMI_EXIT_CORRUPT, "package-corrupt", "package corrupt" },
    { ORMI_EXIT_SOME_FAILED, "some-failed", "not all devices succeeded" },
    { ORMI_EXIT_VERSION, "wrong-version", "the device came back with another version than --expect-version" },
    { ORMI_EXIT_SIGNATURE, "signature-refused", "the package is not signed by a trusted key" },
};

const std::size_t helpWidth = 95; // the longest line of the list in --help

} // namespace

const exit_code* exit_table(std::size_t* count)
{
    *count = sizeof table / sizeof table[0];
    return table;
}

const char* exit_name(int code)
{
    for (const exit_code& e : table)
        if (e.number == code)
            return e.name;
    return "failed";
}

std::string exit_helpText()
{
    std::string text, line = "Exit codes:";
    std::size_t count = sizeof table / sizeof table[0];
    for (std::size_t i = 0; i < count; ++i) {
        std::string item = std::to_string(table[i].number) + " " + table[i].text + (i + 1 < count ? "," : ".");
        if (line.size() + 1 + item.size() > helpWidth) {
            text += line + "\n";
            line = " ";
        }
        line += " " + item;
    }
    return text + line + "\n";
}
