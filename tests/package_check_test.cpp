// The package check: each failure with its text and ormi's exit code, the
// content checked before the fit, and only the checks asked for.
#include "package.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// bzip2 of nothing: a stream header and its end marker with CRC 0.
const unsigned char emptyStream[] = { 'B', 'Z', 'h', '9', 0x17, 0x72, 0x45, 0x38, 0x50, 0x90, 0, 0, 0, 0 };
const unsigned char notStream[] = { 'h', 'e', 'l', 'l', 'o' };

} // namespace

TEST(PackageCheck, EachFailureSaysWhatAndWhichExitCode)
{
    struct checkCase {
        const char* label;
        const char* fileName;
        const unsigned char* data;
        std::size_t size;
        const char* tag; // nullptr: the device gives no version
        const char* suffix;
        int checks;
        int failure, exitCode;
        const char* message; // its beginning
    } cases[] = {
        { "fits", "fw_ormim_2.2.0m.bz2", emptyStream, sizeof emptyStream, "_ormim_", "m",
          PACKAGE_CHECK_CONTENT | PACKAGE_CHECK_FIT, PACKAGE_PASSED, 0, "" },
        { "not bzip2", "fw_ormim_2.2.0m.bz2", notStream, sizeof notStream, "_ormim_", "m", PACKAGE_CHECK_CONTENT,
          PACKAGE_CORRUPT, 9, "the package is not an intact bzip2 stream: " },
        { "cut short", "fw_ormim_2.2.0m.bz2", emptyStream, 10, "_ormim_", "m", PACKAGE_CHECK_CONTENT, PACKAGE_CORRUPT,
          9, "the package is not an intact bzip2 stream: " },
        { "content before fit", "fw_ormi_2.2.0.bz2", notStream, sizeof notStream, "_ormim_", "m",
          PACKAGE_CHECK_CONTENT | PACKAGE_CHECK_FIT, PACKAGE_CORRUPT, 9,
          "the package is not an intact bzip2 stream: " },
        { "no version", "fw_ormim_2.2.0m.bz2", emptyStream, sizeof emptyStream, nullptr, nullptr, PACKAGE_CHECK_FIT,
          PACKAGE_NO_VERSION, 5, package_noVersionText },
        { "other type", "fw_ormi_2.2.0.bz2", emptyStream, sizeof emptyStream, "_ormim_", "m", PACKAGE_CHECK_FIT,
          PACKAGE_WRONG_NAME, 5, "Das Gerät ist vom Typ ORMI-M." },
        { "other suffix", "fw_ormim_2.2.0.bz2", emptyStream, sizeof emptyStream, "_ormim_", "-rc", PACKAGE_CHECK_FIT,
          PACKAGE_WRONG_NAME, 5, "Der ORMI/ORMI-M hat die Version -rc." },
        { "fit not asked for", "anything.bin", emptyStream, sizeof emptyStream, nullptr, nullptr, PACKAGE_CHECK_CONTENT,
          PACKAGE_PASSED, 0, "" },
        { "content not asked for", "fw_ormim_2.2.0m.bz2", notStream, sizeof notStream, "_ormim_", "m",
          PACKAGE_CHECK_FIT, PACKAGE_PASSED, 0, "" },
    };
    for (const checkCase& c : cases) {
        SCOPED_TRACE(c.label);
        package_subject subject = { c.fileName, c.data, c.size, c.tag, c.suffix };
        package_verdict verdict;
        EXPECT_EQ(package_check(&subject, c.checks, &verdict), c.failure == PACKAGE_PASSED ? 1 : 0);
        EXPECT_EQ(verdict.failure, c.failure);
        EXPECT_EQ(verdict.exitCode, c.exitCode);
        EXPECT_EQ(std::string(verdict.message).compare(0, std::string(c.message).size(), c.message), 0)
            << verdict.message;
        EXPECT_EQ(verdict.detail[0] != '\0', c.failure == PACKAGE_CORRUPT) << verdict.detail;
        if (c.failure == PACKAGE_PASSED)
            EXPECT_STREQ(verdict.message, "");
    }
}
