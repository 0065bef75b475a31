// ormi and signed packages: `ormi verify`, and `ormi update` (one device, a
// dry run, several devices) against simulated devices, with keys, packages
// and signatures made by openssl (tests/sig_fixtures.sh). A refused package
// leaves the device untouched: not one request reaches it.
#include "cli_run.h"

namespace {

const std::string fixtures = "../sig-fixtures/";

std::string fingerprint(const char* name)
{
    std::string text = cli_readFile(fixtures + name);
    return text.substr(0, text.find('\n'));
}

std::size_t uploadsIn(sim_server* s)
{
    std::size_t n = 0;
    for (const std::string& request : sim_requests(s))
        n += request.find("setUpdateFileToServer") != std::string::npos;
    return n;
}

std::size_t postsIn(sim_server* s)
{
    std::size_t n = 0;
    for (const std::string& request : sim_requests(s))
        n += request.compare(0, 5, "POST ") == 0;
    return n;
}

class CliSignature : public CliTest {
  protected:
    void SetUp() override
    {
        CliTest::SetUp();
        ASSERT_GT(cli_readFile(fixtures + "signed.bz2").size(), 100u) << "made by tests/sig_fixtures.sh";
        // Named to fit the simulated device; each with its signature beside it.
        signedPath = path("fw_ormi_2.2.0.bz2");
        cli_writeFile(signedPath, cli_readFile(fixtures + "signed.bz2"));
        cli_writeFile(signedPath + ".sig", cli_readFile(fixtures + "signed.bz2.sig"));
        changedPath = path("changed/fw_ormi_2.2.0.bz2");
        std::filesystem::create_directories(dir / "changed");
        cli_writeFile(changedPath, cli_readFile(fixtures + "changed.bz2"));
        cli_writeFile(changedPath + ".sig", cli_readFile(fixtures + "signed.bz2.sig"));
        unsignedPath = path("unsigned/fw_ormi_2.2.0.bz2");
        std::filesystem::create_directories(dir / "unsigned");
        cli_writeFile(unsignedPath, cli_readFile(fixtures + "signed.bz2"));
        vendorKey = fixtures + "vendor.pub.pem";
    }
    // The refusals every command must give, with the options that cause them.
    struct refusal {
        const char* what;
        std::vector<std::string> args;
        std::string message;
    };
    std::vector<refusal> refusals()
    {
        return {
            { "changed after signing",
              { changedPath, "--trusted-key", vendorKey },
              "signature does not match any trusted key (keys: " + fingerprint("vendor.fp") + ")" },
            { "signed by another key",
              { signedPath, "--signature", fixtures + "other.sig", "--trusted-key", vendorKey },
              "signature does not match any trusted key (keys: " + fingerprint("vendor.fp") + ")" },
            { "no .sig", { unsignedPath, "--trusted-key", vendorKey }, "no signature file " + unsignedPath + ".sig" },
            { "a cut .sig",
              { signedPath, "--signature", fixtures + "cut.sig", "--trusted-key", vendorKey },
              "unreadable signature file " + fixtures + "cut.sig" },
            { "a key file that is no key",
              { signedPath, "--trusted-key", fixtures + "notakey.pem" },
              "unreadable key file " + fixtures + "notakey.pem" },
        };
    }
    std::string signedPath, changedPath, unsignedPath, vendorKey;
};

std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(CliSignature, VerifyTellsWhichKeySignedOrWhyNot)
{
    cli_outcome run = cli_run({ "verify", signedPath, "--trusted-key", vendorKey });
    EXPECT_EQ(run.code, ORMI_EXIT_OK) << run.output;
    EXPECT_NE(run.output.find("signed by trusted key " + fingerprint("vendor.fp")), std::string::npos) << run.output;
    // Rotation: a file with the new and the old key takes either signature.
    run = cli_run({ "verify", signedPath, "--signature", fixtures + "other.sig", "--trusted-key",
                    fixtures + "both.pub.pem", "--json" });
    EXPECT_EQ(run.code, ORMI_EXIT_OK) << run.output;
    EXPECT_NE(run.output.find("\"signature\":\"valid\",\"signature_key\":\"" + fingerprint("other.fp") + "\""),
              std::string::npos)
        << run.output;
    for (const refusal& r : refusals()) {
        SCOPED_TRACE(r.what);
        run = cli_run(joined({ "verify" }, r.args));
        EXPECT_EQ(run.code, ORMI_EXIT_SIGNATURE) << run.output;
        EXPECT_NE(run.output.find(r.message), std::string::npos) << run.output;
    }
    run = cli_run({ "verify", signedPath });
    EXPECT_EQ(run.code, ORMI_EXIT_USAGE) << "no key, nothing to verify against\n" << run.output;
}

TEST_F(CliSignature, UpdateRefusesBeforeTheDeviceIsTouchedAlsoInADryRun)
{
    sim_server* s = startSim({});
    ASSERT_NE(s, nullptr);
    for (const refusal& r : refusals()) {
        for (const char* dryRun : { "", "--dry-run" }) {
            SCOPED_TRACE(std::string(r.what) + " " + dryRun);
            std::vector<std::string> args = joined({ "update" }, r.args);
            args.insert(args.end(), { "--device", device(s), "--json" });
            if (*dryRun)
                args.push_back(dryRun);
            cli_outcome run = cli_run(quick(args));
            EXPECT_EQ(run.code, ORMI_EXIT_SIGNATURE) << run.output;
            EXPECT_NE(run.output.find(r.message), std::string::npos) << run.output;
            EXPECT_NE(run.output.find("; nothing was sent."), std::string::npos) << run.output;
            std::string quoted = report_jsonString(r.message);
            EXPECT_NE(run.output.find("\"signature\":" + quoted.substr(0, quoted.size() - 1)), std::string::npos)
                << run.output;
            EXPECT_NE(run.output.find("\"changed\":false"), std::string::npos) << run.output;
            EXPECT_TRUE(sim_requests(s).empty()) << sim_requests(s).size() << " requests reached the device";
        }
    }
}

TEST_F(CliSignature, SignedPackageGoesThroughDryRunAndUpdate)
{
    sim_server* s = startSim({});
    ASSERT_NE(s, nullptr);
    cli_outcome run = cli_run(
        quick({ "update", signedPath, "--device", device(s), "--trusted-key", vendorKey, "--dry-run", "--json" }));
    EXPECT_EQ(run.code, ORMI_EXIT_OK) << run.output;
    EXPECT_NE(run.output.find("\"signature\":\"valid\",\"signature_key\":\"" + fingerprint("vendor.fp") + "\""),
              std::string::npos)
        << run.output;
    EXPECT_FALSE(sim_requests(s).empty()) << "the dry run reads the device";
    EXPECT_EQ(postsIn(s), 0u) << "a dry run sends no POST";

    run = cli_run(quick({ "update", signedPath, "--device", device(s), "--trusted-key", vendorKey, "--json" }));
    EXPECT_EQ(run.code, ORMI_EXIT_OK) << run.output;
    EXPECT_NE(run.output.find("\"signature\":\"valid\""), std::string::npos) << run.output;
    EXPECT_EQ(uploadsIn(s), 1u);
    EXPECT_TRUE(sim_lastUpload(s).data == cli_readFile(fixtures + "signed.bz2"));
}

TEST_F(CliSignature, SeveralDevicesTakeOnlyASignedPackage)
{
    sim_server* a = startSim({});
    sim_server* b = startSim({});
    ASSERT_TRUE(a && b);
    std::string list = path("devices.txt");
    cli_writeFile(list, device(a) + "\n" + device(b) + "\n");
    cli_outcome run = cli_run(quick({ "update", changedPath, "--devices", list, "--trusted-key", vendorKey }));
    EXPECT_EQ(run.code, ORMI_EXIT_SIGNATURE) << run.output;
    EXPECT_NE(run.output.find("signature does not match any trusted key"), std::string::npos) << run.output;
    EXPECT_TRUE(sim_requests(a).empty() && sim_requests(b).empty());

    run = cli_run(quick({ "update", signedPath, "--devices", list, "--trusted-key", vendorKey }));
    EXPECT_EQ(run.code, ORMI_EXIT_OK) << run.output;
    EXPECT_EQ(uploadsIn(a), 1u);
    EXPECT_EQ(uploadsIn(b), 1u);
}

// trusted_keys.pem beside the program: a copy of ormi and its library in a
// folder of their own, so that no other test meets the file.
TEST_F(CliSignature, KeysBesideTheProgramCannotBeSwitchedOff)
{
    std::filesystem::path bin = dir / "bin";
    std::filesystem::create_directories(bin);
    std::string program = cli_programPath();
    std::filesystem::path from = std::filesystem::path(program).parent_path();
#ifdef _WIN32
    const char* library = "ormi_control.dll";
#else
    const char* library = "libormi_control.so";
#endif
    std::filesystem::copy_file(program, bin / std::filesystem::path(program).filename());
    std::filesystem::copy_file(from / library, bin / library);
    std::filesystem::permissions(bin / std::filesystem::path(program).filename(), std::filesystem::perms::owner_all);
    cli_writeFile((bin / "trusted_keys.pem").string(), cli_readFile(vendorKey));
    std::string copy = (bin / std::filesystem::path(program).filename()).string();
    auto runCopy = [&](const std::vector<std::string>& args) {
        cli_outcome outcome;
        proc_child* child = proc_start(copy, args);
        if (!child)
            return outcome;
        std::string line;
        while (proc_readLine(child, &line))
            outcome.output += line + "\n";
        outcome.code = proc_wait(child);
        return outcome;
    };

    sim_server* s = startSim({});
    ASSERT_NE(s, nullptr);
    cli_outcome run = runCopy({ "verify", signedPath });
    EXPECT_EQ(run.code, ORMI_EXIT_OK) << run.output;
    // Neither skipping the bzip2 test nor a key of one's own gets past it.
    struct {
        const char* what;
        std::vector<std::string> args;
    } attempts[] = {
        { "no option", { "update", unsignedPath, "--device", device(s) } },
        { "--no-verify", { "update", changedPath, "--device", device(s), "--no-verify" } },
        { "a key of one's own",
          { "update", signedPath, "--device", device(s), "--signature", fixtures + "other.sig", "--trusted-key",
            fixtures + "other.pub.pem" } },
        { "a dry run", { "update", changedPath, "--device", device(s), "--dry-run" } },
    };
    for (const auto& a : attempts) {
        SCOPED_TRACE(a.what);
        run = runCopy(quick(a.args));
        EXPECT_EQ(run.code, ORMI_EXIT_SIGNATURE) << run.output;
        EXPECT_TRUE(sim_requests(s).empty());
    }
    run = runCopy(quick({ "update", signedPath, "--device", device(s), "--dry-run" }));
    EXPECT_EQ(run.code, ORMI_EXIT_OK) << run.output;

    cli_writeFile((bin / "trusted_keys.pem").string(), "keys follow\n");
    run = runCopy({ "verify", signedPath, "--trusted-key", vendorKey });
    EXPECT_EQ(run.code, ORMI_EXIT_SIGNATURE) << "a broken policy file refuses everything\n" << run.output;
    EXPECT_NE(run.output.find("unreadable key file"), std::string::npos) << run.output;
}

} // namespace
