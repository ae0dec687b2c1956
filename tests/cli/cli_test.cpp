// trustcheck as a black box: what it prints, to which stream, and how it
// exits.
//
// TRUSTCHECK_COMMAND is the command prefix that runs the tool (words split at
// spaces, e.g. "/path/trustcheck" or "wine /path/trustcheck.exe").
// TRUSTCHECK_PLATFORM names the platform it runs on, which decides the few
// expectations that differ between them (see platform() below).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "fixtures.h"
#include "spawn.h"

namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// What differs between platforms.

struct Platform {
    const char* name;
    // The exit status a run with this result code ends with.
    int (*statusFor)(std::uint32_t code);
    // What ends the output line.
    const char* lineEnd;
    // The start-up name can be chosen, and the tool started with no argument
    // vector at all.
    bool startNameControllable;
    // Argument bytes reach the tool exactly as given, even when they are not
    // UTF-8.
    bool argumentsVerbatim;
    // The verifier and the system's message texts answer as Windows' do (the
    // portable ones off Windows are made to), so every code and text is
    // known. Otherwise only the codes of an unsigned program (800B0100) and
    // of a file in no known format (800B0003) are, and no text.
    bool windowsVerifier;
};

const Platform& platform() {
    // Exit statuses are 8 bits wide: 0 for success, 1 for any failure, 255
    // for the usage line.
    static const Platform native{"native", [](std::uint32_t code) { return code == 0 ? 0 : 1; }, "\n", true, true,
                                 true};
    // A Windows build under Wine. The status is the full code, of which Wine
    // hands on the low byte, or 1 when that byte alone would read as success.
    // The C runtime writes line ends as CR LF. argv[0] is Wine's Windows path
    // of the program. Wine decodes the arguments by the locale (UTF-8 here,
    // see runTool), so a byte that is not UTF-8 arrives as U+FFFD. Wine's
    // verifier accepts what Windows' rejects, its file errors are plain
    // Win32 codes and its message texts are its own.
    static const Platform wine{"wine",
                               [](std::uint32_t code) {
                                   const int low = static_cast<int>(code & 0xFF);
                                   return code != 0 && low == 0 ? 1 : low;
                               },
                               "\r\n", false, false, false};
    const char* name = std::getenv("TRUSTCHECK_PLATFORM");
    return name != nullptr && std::string(name) == "wine" ? wine : native;
}

bool codeKnownHere(std::uint32_t windowsCode) {
    return platform().windowsVerifier || windowsCode == 0x800B0100 || windowsCode == 0x800B0003;
}

constexpr int usageStatus = 255;  // -1 in any exit status width we meet
// The report line could not be written: neither verdict, nor the usage line.
constexpr int writeFailureStatus = 2;

// ---------------------------------------------------------------------------

const char* const fileError = "An error occurred while reading or writing to a file. ";
const char* const formUnknown =
    "The form specified for the subject is not one supported or known by the specified trust provider. ";
const char* const noSignature = "No signature was present in the subject. ";

std::vector<std::string> toolCommand() {
    const char* command = std::getenv("TRUSTCHECK_COMMAND");
    return splitCommand(command != nullptr ? command : "");
}

SpawnResult runTool(SpawnRequest request) {
    request.command = toolCommand();
    request.environment.emplace_back("WINEDEBUG", "-all");
    // Wine decodes the argument bytes by the locale's character set: UTF-8,
    // as a terminal on Windows would send them. The native tool ignores it.
    request.environment.emplace_back("LC_ALL", "C.UTF-8");
    return spawn(request);
}

std::string hex(std::uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", code);
    return text;
}

// One line on stdout, "<path>: <code> (<text>)", nothing on stderr, and the
// exit status for the code printed. The path is the argument byte for byte
// and the code uppercase hexadecimal without leading zeros everywhere; the
// code and text are checked where they are known.
void expectReport(const SpawnResult& r, const std::string& path, std::uint32_t code, const std::string& text) {
    ASSERT_EQ(r.failure, "");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(r.exited);
    const std::string head = path + ": ";
    const std::string tail = std::string(")") + platform().lineEnd;
    ASSERT_TRUE(r.out.starts_with(head) && r.out.ends_with(tail)) << r.out;
    EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
    const std::string rest = r.out.substr(head.size(), r.out.size() - head.size() - tail.size());
    const std::size_t space = rest.find(" (");
    ASSERT_NE(space, std::string::npos) << r.out;
    const std::string printed = rest.substr(0, space);
    ASSERT_TRUE(printed.size() <= 8 && printed.find_first_not_of("0123456789ABCDEF") == std::string::npos &&
                (printed == "0" || (!printed.empty() && printed[0] != '0')))
        << printed;
    const auto printedCode = static_cast<std::uint32_t>(std::stoul(printed, nullptr, 16));
    EXPECT_EQ(r.status, platform().statusFor(printedCode));
    if (codeKnownHere(code)) {
        EXPECT_EQ(printed, hex(code));
    }
    if (platform().windowsVerifier) {
        EXPECT_EQ(rest.substr(space + 2), text);
    }
}

class Cli : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_FALSE(toolCommand().empty()) << "TRUSTCHECK_COMMAND is not set";
        char pattern[] = "/tmp/trustcheck-cli-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        const auto text = [](const fs::path& file) { std::ofstream(file) << "not a program, just text\n"; };
        text(dir_ / "notes.txt");
        text(dir_ / "a.exe");
        text(dir_ / "\xC3\xA9.txt");  // "é.txt" in UTF-8
        text(dir_ / "\xE9.txt");      // the same name in Latin-1
        std::ofstream(dir_ / "empty.bin").flush();
        fs::create_directories(dir_ / "sub");
        fs::create_directories(dir_ / "no-certificates");
        fs::create_directories(dir_ / longDirectory());
        text(dir_ / longPath());
    }
    static void TearDownTestSuite() {
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    // A relative path of 301 units: longer than a MAX_PATH buffer holds.
    static std::string longDirectory() { return std::string(100, 'd'); }
    static std::string longPath() { return longDirectory() + "/" + std::string(200, 'f') + ".txt"; }

    static SpawnResult run(std::vector<std::string> arguments) {
        SpawnRequest request;
        request.arguments = std::move(arguments);
        request.workingDirectory = dir_.string();
        return runTool(request);
    }

    static inline fs::path dir_;
};

TEST_F(Cli, NoArgumentPrintsTheUsageLine) {
    if (!platform().startNameControllable) {
        // The start-up name is the system's path of the program.
        const std::string program = fs::path(toolCommand().back()).filename().string();
        const SpawnResult r = run({});
        ASSERT_EQ(r.failure, "");
        const std::string tail = std::string(" [filename]") + platform().lineEnd;
        EXPECT_TRUE(r.out.starts_with("Usage ") && r.out.ends_with(program + tail)) << r.out;
        EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, usageStatus);
        return;
    }
    const std::string command = toolCommand()[0];
    for (const std::string& startName : {command, std::string("tc"), std::string("/some dir/trust check.exe")}) {
        SpawnRequest request;
        request.startName = startName;
        const SpawnResult r = runTool(request);
        ASSERT_EQ(r.failure, "");
        EXPECT_EQ(r.out, "Usage " + startName + " [filename]\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, usageStatus);
    }
}

TEST_F(Cli, EmptyArgumentVectorPrintsTheUsageLineWithNoName) {
    if (!platform().startNameControllable) GTEST_SKIP() << "argv cannot be emptied on " << platform().name;
    // Linux since 5.18 hands the program an empty argv[0] instead; the line
    // is the same either way.
    SpawnRequest request;
    request.emptyArgv = true;
    const SpawnResult r = runTool(request);
    ASSERT_EQ(r.failure, "");
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.out, "Usage  [filename]\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, usageStatus);
}

TEST_F(Cli, ReportsTheFirstArgumentAsTyped) {
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        std::string path;  // as the line shows it
        std::uint32_t code;
        const char* text;
        bool verbatimOnly = false;
    };
    const Case cases[] = {
        {"empty argument", {""}, "", 0x80092003, fileError},
        {"missing file", {"missing.exe"}, "missing.exe", 0x80092003, fileError},
        {"directory", {"sub"}, "sub", 0x80092003, fileError},
        {"text file", {"notes.txt"}, "notes.txt", 0x800B0003, formUnknown},
        {"empty file", {"empty.bin"}, "empty.bin", 0x800B0003, formUnknown},
        {"three arguments", {"notes.txt", "missing.exe", "sub"}, "notes.txt", 0x800B0003, formUnknown},
        {"wildcard", {"*.exe"}, "*.exe", 0x80092003, fileError},
        {"UTF-8 name", {"\xC3\xA9.txt"}, "\xC3\xA9.txt", 0x800B0003, formUnknown},
        // Not UTF-8: printed byte for byte, but the byte becomes U+FFFD on the
        // way to the verifier, so neither "é.txt" file is found.
        {"Latin-1 byte", {"\xE9.txt"}, "\xE9.txt", 0x80092003, fileError, true},
        {"path longer than MAX_PATH", {longPath()}, longPath(), 0x800B0003, formUnknown},
        // A line break in a name would make a second, forged report line.
        {"line breaks in the name", {"forged\nok.exe: 0 (fine)\r"}, "forged?ok.exe: 0 (fine)?", 0x80092003,
         fileError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.verbatimOnly && !platform().argumentsVerbatim) continue;
        expectReport(run(c.arguments), c.path, c.code, c.text);
    }
}

// ---------------------------------------------------------------------------
// The PE fixtures, each with the code the Windows verifier gives for it.

const fs::path fixtures = fs::path(TRUSTCHECK_SOURCE_DIR) / "tests" / "fixtures";

SpawnResult runFixture(const std::string& file, const std::string& trust, const fs::path& emptyDirectory) {
    SpawnRequest request;
    request.arguments = {file};
    request.workingDirectory = fixtures.string();
    request.environment = {{"SSL_CERT_FILE", (fixtures / "trust" / trust).string()},
                           {"SSL_CERT_DIR", emptyDirectory.string()}};
    return runTool(request);
}

class PeFixtures : public Cli {};

TEST_F(PeFixtures, UnsignedProgramsHaveNoSignature) {
    for (const char* file : {"pe/unsigned32.exe", "pe/unsigned64.exe"}) {
        SCOPED_TRACE(file);
        ASSERT_TRUE(fs::is_regular_file(fixtures / file));
        expectReport(runFixture(file, "trusted.pem", dir_ / "no-certificates"), file, 0x800B0100, noSignature);
    }
}

// A report nobody can read must not pass for a verdict: a script that reads
// only the status would otherwise take a lost line for a trusted file.
TEST_F(PeFixtures, UnwritableReportLineFailsWhateverTheVerdict) {
    if (platform().name != std::string("native")) GTEST_SKIP() << "standard output is Wine's console layer's";
    using Output = SpawnRequest::Output;
    struct Case {
        const char* note;
        const char* file;
        Output stdoutTo;
    };
    const Case cases[] = {
        {"trusted file, full disk", "pe/signed64-sha256.exe", Output::FullDevice},
        {"trusted file, stdout closed", "pe/signed64-sha256.exe", Output::Closed},
        {"unsigned file, full disk", "pe/unsigned64.exe", Output::FullDevice},
        {"unsigned file, stdout closed", "pe/unsigned64.exe", Output::Closed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.note);
        SpawnRequest request;
        request.arguments = {c.file};
        request.workingDirectory = fixtures.string();
        request.environment = {{"SSL_CERT_FILE", (fixtures / "trust" / "trusted.pem").string()},
                               {"SSL_CERT_DIR", (dir_ / "no-certificates").string()}};
        request.stdoutTo = c.stdoutTo;
        const SpawnResult r = runTool(request);
        ASSERT_EQ(r.failure, "");
        EXPECT_TRUE(r.exited);
        EXPECT_EQ(r.status, writeFailureStatus);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
    }
    // The same files with the line captured: the statuses above come from
    // the failed write, not from the verdicts.
    expectReport(runFixture("pe/signed64-sha256.exe", "trusted.pem", dir_ / "no-certificates"),
                 "pe/signed64-sha256.exe", 0, "The operation completed successfully. ");
}

using testing_support::ExpectedRow;

class FixtureRows : public Cli, public ::testing::WithParamInterface<ExpectedRow> {};

TEST_P(FixtureRows, GivesTheExpectedCode) {
    if (!platform().windowsVerifier) GTEST_SKIP() << "the verifier on " << platform().name << " is not Windows'";
    const ExpectedRow& row = GetParam();
    SCOPED_TRACE(row.file + ": " + row.note);
    const SpawnResult r = runFixture(row.file, row.trust, dir_ / "no-certificates");
    ASSERT_EQ(r.failure, "");
    const std::string prefix = row.file + ": " + hex(row.code) + " (";
    EXPECT_TRUE(r.out.starts_with(prefix) && r.out.ends_with(")\n")) << r.out;
    EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, platform().statusFor(row.code));
}

std::string rowName(const ::testing::TestParamInfo<ExpectedRow>& row) {
    // A file may be checked against more than one trust store.
    std::string name = row.param.file + "_" + fs::path(row.param.trust).stem().string();
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FixtureRows);
INSTANTIATE_TEST_SUITE_P(Expected, FixtureRows, ::testing::ValuesIn(testing_support::expectedRows()), rowName);

}  // namespace
