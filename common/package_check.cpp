// The package check: what a package must be before it is sent, the same for
// ormi (one device, and each of several) and the updater. Its content (an
// intact bzip2 stream) and its fit to the device (the name's type tag and
// version suffix); each failure with its text and ormi's exit code.
#include "bz2.h"
#include "package.h"

#include <stdio.h>
#include <string.h>

static int package_fail(package_verdict* verdict, int failure, int exitCode, const char* message)
{
    verdict->failure = failure;
    verdict->exitCode = exitCode;
    snprintf(verdict->message, sizeof verdict->message, "%s", message);
    return 0;
}

static int package_checkContent(const package_subject* subject, package_verdict* verdict)
{
    std::string why;
    if (bz2_verify(subject->data, (std::size_t)subject->size, &why) == BZ2_CHECK_OK)
        return 1;
    snprintf(verdict->detail, sizeof verdict->detail, "%s", why.c_str());
    char message[PACKAGE_MESSAGE_SIZE];
    snprintf(message, sizeof message, "the package is not an intact bzip2 stream: %s", why.c_str());
    return package_fail(verdict, PACKAGE_CORRUPT, PACKAGE_EXIT_CORRUPT, message);
}

static int package_checkFit(const package_subject* subject, package_verdict* verdict)
{
    if (subject->deviceTag == nullptr)
        return package_fail(verdict, PACKAGE_NO_VERSION, PACKAGE_EXIT_NOFIT, package_noVersionText);
    char message[PACKAGE_MESSAGE_SIZE];
    if (package_checkName(subject->deviceTag, subject->deviceSuffix, subject->fileName, message, sizeof message))
        return 1;
    return package_fail(verdict, PACKAGE_WRONG_NAME, PACKAGE_EXIT_NOFIT, message);
}

int package_check(const package_subject* subject, int checks, package_verdict* verdict)
{
    verdict->failure = PACKAGE_PASSED;
    verdict->exitCode = 0;
    verdict->message[0] = '\0';
    verdict->detail[0] = '\0';
    if ((checks & PACKAGE_CHECK_CONTENT) && !package_checkContent(subject, verdict))
        return 0;
    if ((checks & PACKAGE_CHECK_FIT) && !package_checkFit(subject, verdict))
        return 0;
    return 1;
}
