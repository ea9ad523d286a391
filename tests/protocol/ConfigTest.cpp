// The configuration file that names the server, the base URL made from it,
// and the program file's version.
#include "CodePage.h"
#include "TempDir.h"
#include "Unitfunction.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

using Installation = testsupport::TempInstallation;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

TEST(ConfFilePath, ParentOfTheProgramsFolder) {
    const struct {
        std::string program;
        std::string conf;
    } cases[] = {
        {"/opt/tarvo/bin/TarvoAdmin", "/opt/tarvo/Conf/Tarvo.conf"},
        {"/opt/tarvo/TarvoAdmin", "/opt/Conf/Tarvo.conf"},
        {"/bin/TarvoAdmin", "/Conf/Tarvo.conf"},
        // At the root the folder and its parent are both "/".
        {"/TarvoAdmin", "/Conf/Tarvo.conf"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetConfFilePath(c.program), c.conf) << c.program;
}

TEST(ServerHost, IniRules) {
    const std::string host = "http://10.1.2.3";
    const std::string gbkHost = "http://" + Gbk(u8"服务器") + ".cn";
    const std::string longValue(3000, 'h');
    struct Case {
        const char* what;
        std::string conf;
        std::string value;
        bool isDefault;
    };
    const Case cases[] = {
        {"plain", "[default]\nTarvoSWHost=" + host + "\n", host, false},
        {"CRLF lines, no line end at the end", "[default]\r\nTarvoSWHost=" + host, host, false},
        {"section and key in other case", "[DeFault]\ntarvoswhost=" + host + "\n", host, false},
        {"blanks around = and after the value",
         "[default]\n  TarvoSWHost \t=  " + host + " \t \r\n", host, false},
        {"double quotes removed", "[default]\nTarvoSWHost=\"" + host + "\"\n", host, false},
        {"single quotes removed", "[default]\nTarvoSWHost='" + host + "'\n", host, false},
        {"quotes after the blanks, blanks inside kept",
         "[default]\nTarvoSWHost = \" " + host + " \" \n", " " + host + " ", false},
        {"unpaired quotes kept", "[default]\nTarvoSWHost=\"" + host + "'\n", "\"" + host + "'",
         false},
        {"a lone quote kept", "[default]\nTarvoSWHost=\"\n", "\"", false},
        {"the first = splits", "[default]\nTarvoSWHost=" + host + "/?a=b\n", host + "/?a=b", false},
        {"GBK bytes as they are", "[default]\nTarvoSWHost=" + gbkHost + "\n", gbkHost, false},
        {"empty value is the empty text", "[default]\nTarvoSWHost=\n", "", false},
        {"blanks only is the empty text", "[default]\nTarvoSWHost=   \n", "", false},
        {"empty quotes are the empty text", "[default]\nTarvoSWHost=\"\"\n", "", false},
        {"the first of two keys", "[default]\nTarvoSWHost=" + host + "\nTarvoSWHost=http://b\n",
         host, false},
        {"among other keys and sections",
         "; installation\n[paths]\nroot=/opt\n\n[default]\nother=1\nTarvoSWHost=" + host +
             "\nmore=2\n[last]\nTarvoSWHost=http://b\n",
         host, false},
        {"a cut at 2047 characters", "[default]\nTarvoSWHost=" + longValue + "\n",
         longValue.substr(0, 2047), false},
        {"2047 characters whole", "[default]\nTarvoSWHost=" + longValue.substr(0, 2047) + "\n",
         longValue.substr(0, 2047), false},
        {"empty file", "", DefaultServerHost, true},
        {"section missing", "[other]\nTarvoSWHost=" + host + "\n", DefaultServerHost, true},
        {"key missing", "[default]\nServer=" + host + "\n", DefaultServerHost, true},
        {"key in the section before", "[other]\nTarvoSWHost=" + host + "\n[default]\nx=1\n",
         DefaultServerHost, true},
        {"key in the section after", "[default]\nx=1\n[other]\nTarvoSWHost=" + host + "\n",
         DefaultServerHost, true},
        {"key before any section", "TarvoSWHost=" + host + "\n[default]\n", DefaultServerHost,
         true},
        {"key commented out", "[default]\n;TarvoSWHost=" + host + "\n", DefaultServerHost, true},
        {"section commented out", ";[default]\nTarvoSWHost=" + host + "\n", DefaultServerHost,
         true},
        {"a longer key name", "[default]\nTarvoSWHostName=" + host + "\n", DefaultServerHost, true},
        {"a key line without =", "[default]\nTarvoSWHost\n", DefaultServerHost, true},
        {"a longer section name", "[defaults]\nTarvoSWHost=" + host + "\n", DefaultServerHost,
         true},
    };
    for (const auto& c : cases) {
        Installation inst;
        inst.WriteConf(c.conf);
        const SServerHost got = ReadServerHost(inst.Program());
        EXPECT_EQ(got.Value, c.value) << c.what;
        EXPECT_EQ(got.IsDefault, c.isDefault) << c.what;
        EXPECT_EQ(GetServerHost(inst.Program()), c.value) << c.what;
        EXPECT_EQ(ReadFile(inst.ConfFile()), c.conf) << c.what << ": the file is never written";
    }
}

TEST(ServerHost, MissingOrUnreadableFileGivesTheDefaultAndCreatesNothing) {
    {
        Installation inst;
        const SServerHost got = ReadServerHost(inst.Program());
        EXPECT_EQ(got.Value, DefaultServerHost);
        EXPECT_TRUE(got.IsDefault);
        EXPECT_FALSE(fs::exists(inst.Root() / "Conf"));
    }
    {
        Installation inst;
        fs::create_directories(inst.ConfFile()); // a folder in the file's place
        EXPECT_TRUE(ReadServerHost(inst.Program()).IsDefault);
    }
}

TEST(ServerHost, AnUnknownProgramPathNeverReadsTheWorkingFolder) {
    Installation inst;
    inst.WriteConf("[default]\nTarvoSWHost=http://from-the-working-folder\n");
    const auto saved = fs::current_path();
    fs::current_path(inst.Root());
    const SServerHost got = ReadServerHost("");
    fs::current_path(saved);
    EXPECT_TRUE(got.IsDefault);
    EXPECT_EQ(got.Value, DefaultServerHost);
}

TEST(ServerHost, EveryCallReadsTheFileAnew) {
    Installation inst;
    inst.WriteConf("[default]\nTarvoSWHost=http://first\n");
    EXPECT_EQ(GetServerHost(inst.Program()), "http://first");
    inst.WriteConf("[default]\nTarvoSWHost=http://second\n");
    EXPECT_EQ(GetServerHost(inst.Program()), "http://second");
    fs::remove(inst.ConfFile());
    EXPECT_EQ(GetServerHost(inst.Program()), DefaultServerHost);
}

TEST(ServerBaseUrl, ConfiguredValueAndThePort) {
    const struct {
        const char* what;
        std::string conf; // "": no file
        std::string url;
    } cases[] = {
        {"scheme and host", "[default]\nTarvoSWHost=http://10.1.2.3\n", "http://10.1.2.3:8041"},
        {"quoted, with blanks", "[Default]\nTARVOSWHOST = \"https://svc.example\" \n",
         "https://svc.example:8041"},
        {"empty value stays empty", "[default]\nTarvoSWHost=\n", ""},
        {"no file: the default as it stands", "", DefaultServerHost},
        {"no key: the default as it stands", "[default]\n", DefaultServerHost},
    };
    for (const auto& c : cases) {
        Installation inst;
        if (!c.conf.empty())
            inst.WriteConf(c.conf);
        EXPECT_EQ(GetServerBaseUrl(inst.Program()), c.url) << c.what;
    }
    // The default already names the port the windows would append.
    EXPECT_TRUE(std::string(DefaultServerHost).ends_with(ServerPort));
}

TEST(ProgramFile, PathOfTheRunningProgram) {
    const std::string path = GetProgramFilePath();
    EXPECT_TRUE(fs::path(path).is_absolute()) << path;
    EXPECT_EQ(fs::path(path).filename(), "protocol_test");
    EXPECT_TRUE(fs::equivalent(path, "/proc/self/exe"));
}

TEST(GetExeVersion, TheNoteOfTheFileOrTheEmptyText) {
    Installation inst;
    const std::string text = (inst.Root() / "notes.txt").string();
    std::ofstream(text) << "1.0.0.1\n";
    const std::string empty = (inst.Root() / "empty").string();
    std::ofstream{empty};
    const struct {
        const char* what;
        std::string path;
        std::string version;
    } cases[] = {
        {"this test program", "/proc/self/exe", "1.0.0.1"},
        {"this test program by its path", GetProgramFilePath(), "1.0.0.1"},
        {"a text file", text, ""},
        {"an empty file", empty, ""},
        {"a program without the note", "/bin/sh", ""},
        {"a folder", inst.Root().string(), ""},
        {"a missing file", (inst.Root() / "missing").string(), ""},
        {"the empty path", "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetExeVersion(c.path), c.version) << c.what;
}
