// ormi: only packages signed by a trusted key. trusted_keys.pem beside the
// program is a plant's policy: when it is there, its keys alone decide and
// no option widens or switches off the check. Otherwise every --trusted-key
// file counts, and with none the check is off. The package's bytes in
// memory are the ones judged, the same that are sent afterwards.
#include "cli.h"
#include "sig.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// 1 file read, 0 missing, -1 present but unreadable or larger than limit.
int readAll(const std::string& path, std::size_t limit, std::vector<char>* data)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return errno == ENOENT ? 0 : -1;
    data->clear();
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0 && data->size() <= limit)
        data->insert(data->end(), buffer, buffer + got);
    bool ok = !std::ferror(file) && data->size() <= limit;
    std::fclose(file);
    return ok ? 1 : -1;
}

int refuse(cli_result* result, const std::string& message)
{
    result->signature = message;
    return finish(result, ORMI_EXIT_SIGNATURE, message);
}

// Adds one key file; "" or the refusal.
std::string addKeyFile(sig_keyring* ring, const std::string& path, bool mayBeMissing, bool* present)
{
    std::vector<char> text;
    int read = readAll(path, SIG_KEYFILE_SIZE, &text);
    *present = read != 0;
    if (read == 0)
        return mayBeMissing ? "" : "unreadable key file " + path + " (no such file)";
    if (read < 0)
        return "unreadable key file " + path + " (cannot be read, or larger than 64 KiB)";
    switch (sig_addKeys(ring, text.data(), text.size())) {
    case SIG_KEYS_OK:
        return "";
    case SIG_KEYS_NONE:
        return "unreadable key file " + path + " (no PEM public key in it)";
    case SIG_KEYS_TOO_MANY:
        return "unreadable key file " + path + " (more than 16 keys in all)";
    case SIG_KEYS_NO_CRYPTO:
        return "the signature cannot be checked: this system offers no ECDSA P-256";
    default:
        return "unreadable key file " + path + " (a block in it is not an ECDSA P-256 public key)";
    }
}

} // namespace

std::string signature_policyFile()
{
    std::string self = term_executablePath();
    std::size_t slash = self.find_last_of("/\\");
    // Never a file of the current folder in its place.
    return slash == std::string::npos ? std::string() : self.substr(0, slash + 1) + "trusted_keys.pem";
}

int signature_keysApply(const cli_options& options)
{
    std::string policy = signature_policyFile();
    if (!options.trustedKeys.empty() || policy.empty())
        return 1;
    std::FILE* file = std::fopen(policy.c_str(), "rb");
    if (file)
        std::fclose(file);
    return file != nullptr || errno != ENOENT;
}

int signature_check(const cli_options& options, const std::string& packagePath, const std::vector<char>& package,
                    cli_result* result)
{
    static sig_keyring ring;
    sig_clear(&ring);
    bool policy = false;
    std::string policyFile = signature_policyFile();
    if (policyFile.empty())
        return refuse(result, "the program cannot tell its own folder, where trusted_keys.pem may stand");
    std::string why = addKeyFile(&ring, policyFile, true, &policy);
    if (!why.empty())
        return refuse(result, why);
    if (policy && !options.trustedKeys.empty())
        report_info(options, "the keys of " + policyFile + " decide; --trusted-key is not used");
    for (std::size_t i = 0; !policy && i < options.trustedKeys.size(); ++i) {
        bool present = false;
        why = addKeyFile(&ring, options.trustedKeys[i], false, &present);
        if (!why.empty())
            return refuse(result, why);
    }
    if (ring.count == 0)
        return ORMI_EXIT_OK; // no key applies: the check is off

    std::string signaturePath = options.signature.empty() ? packagePath + ".sig" : options.signature;
    std::vector<char> signature;
    int read = readAll(signaturePath, SIG_FILE_SIZE, &signature);
    if (read == 0)
        return refuse(result, "no signature file " + signaturePath);
    if (read < 0)
        return refuse(result, "unreadable signature file " + signaturePath);
    int matched = -1;
    int verdict = sig_verify(&ring, (const unsigned char*)package.data(), package.size(),
                             (const unsigned char*)signature.data(), signature.size(), &matched);
    char keys[SIG_LIST_SIZE];
    sig_keyList(&ring, keys, sizeof keys);
    switch (verdict) {
    case SIG_VALID:
        result->signature = "valid";
        result->signatureKey = ring.keys[matched].fingerprint;
        return ORMI_EXIT_OK;
    case SIG_MALFORMED:
        return refuse(result, "unreadable signature file " + signaturePath + " (not a DER ECDSA P-256 signature)");
    case SIG_NO_MATCH:
        return refuse(result, std::string("signature does not match any trusted key (keys: ") + keys + ")");
    default:
        return refuse(result, "the signature could not be checked: the system's cryptography failed");
    }
}
