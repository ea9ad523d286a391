// Reading passes against a vendor library that records its calls. The driver
// binds the library once per process, so the tests of how it is found run in
// a fresh process of this program each.
#include "TempTree.h"
#include "Unitidcardreader.h"

#include <cstdio>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sstream>

namespace {

const std::vector<std::string> AllCalls = {
    "Syn_OpenPort 1001",
    "Syn_GetSAMIDToStr 1001 zero 0",
    "Syn_StartFindIDCard 1001 zero 0",
    "Syn_SelectIDCard 1001 zero 0",
    "Syn_ReadMsg 1001 0 zero",
    "Syn_ClosePort 1001",
};

const char* const Controls[] = {"TARVO_FAKE_VENDOR_OPEN", "TARVO_FAKE_VENDOR_SCAN",
                                "TARVO_FAKE_VENDOR_READ", "TARVO_FAKE_VENDOR_SERIAL"};

// A tree whose source folder holds the recording library (or the one that
// lacks an entry point) and two companions; calls go to <root>/calls.log.
class TFakeVendorTree : public TTempTree {
public:
    explicit TFakeVendorTree(const char* library = FAKE_VENDOR_LIB) {
        fs::create_directory(Bin());
        fs::copy_file(library, Conf() / "libSyn_IDCardRead.so");
        WriteFile(Conf() / "libWltRS.so", "companion");
        WriteFile(Conf() / "libsdtapi.so", "companion");
        ::setenv("TARVO_FAKE_VENDOR_LOG", Log().c_str(), 1);
        for (const char* control : Controls)
            ::unsetenv(control);
    }
    ~TFakeVendorTree() {
        ::unsetenv("TARVO_FAKE_VENDOR_LOG");
        for (const char* control : Controls)
            ::unsetenv(control);
    }

    fs::path Log() const { return Root() / "calls.log"; }
    // The calls since the last look, one per line.
    std::vector<std::string> TakeCalls() const {
        std::vector<std::string> calls;
        std::istringstream lines(ReadFile(Log()));
        for (std::string line; std::getline(lines, line);)
            calls.push_back(line);
        std::remove(Log().c_str());
        return calls;
    }
};

// Whether the library file at `path` is the one loaded in this process.
bool IsLoaded(const fs::path& path) {
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr)
        ::dlclose(handle);
    return handle != nullptr;
}

// Collects what a check in a fresh process found wrong; the process's exit
// code and error output carry it back.
class TFindings {
public:
    void Expect(bool ok, const std::string& what) {
        if (!ok)
            FText += what + "\n";
    }
    [[noreturn]] void Exit() const {
        std::fputs(FText.c_str(), stderr);
        std::exit(FText.empty() ? 0 : 1);
    }

private:
    std::string FText;
};

// Runs `check` (returning its findings) in a new run of this program that has
// loaded no vendor library yet.
#define EXPECT_IN_FRESH_PROCESS(check)                                                             \
    do {                                                                                           \
        GTEST_FLAG_SET(death_test_style, "threadsafe");                                            \
        EXPECT_EXIT((check)().Exit(), testing::ExitedWithCode(0), "");                             \
    } while (false)

} // namespace

TEST(ReadIDCardData, RunsOnePassInTheVendorsOrder) {
    struct Case {
        const char* what;
        std::vector<std::pair<const char*, const char*>> controls;
        int result;
        std::vector<std::string> calls;
        std::string serial;
    };
    const std::vector<std::string> openAndClose = {"Syn_OpenPort 1001", "Syn_ClosePort 1001"};
    const Case cases[] = {
        {"a card read", {}, 0, AllCalls, "FAKE-SAM-0001"},
        {"the port does not open", {{"TARVO_FAKE_VENDOR_OPEN", "7"}}, 7, openAndClose, ""},
        {"a negative open result", {{"TARVO_FAKE_VENDOR_OPEN", "-1"}}, -1, openAndClose, ""},
        {"no card to read", {{"TARVO_FAKE_VENDOR_READ", "-2"}}, -2, AllCalls, "FAKE-SAM-0001"},
        {"serial, find and select fail", {{"TARVO_FAKE_VENDOR_SCAN", "128"}}, 0, AllCalls, ""},
        {"a serial without zero byte",
         {{"TARVO_FAKE_VENDOR_SERIAL", "full"}},
         0,
         AllCalls,
         std::string(128, 'S')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TFakeVendorTree tree;
        for (const auto& [name, value] : c.controls)
            ::setenv(name, value, 1);
        PrepareIDCardLibs(tree.ProgramFolder());
        IDCardRecord record;
        record.fill(0xEE); // the pass zero-fills it before the read
        std::string serial = "left from an earlier pass";

        EXPECT_EQ(ReadIDCardData(record, serial, tree.ProgramFolder()), c.result);
        EXPECT_EQ(tree.TakeCalls(), c.calls);
        EXPECT_EQ(serial, c.serial);
        if (c.result == 0) {
            const SStuInfo card = DecodeIDCardRecord(record);
            EXPECT_EQ(card.Name, "\xB2\xE2\xCA\xD4");
            EXPECT_EQ(card.IDCardNum, "110101199003070016");
        }
    }
}

TEST(ReadIDCardData, KeepsTheLibraryBoundOnceFound) {
    TFakeVendorTree tree;
    PrepareIDCardLibs(tree.ProgramFolder());
    IDCardRecord record{};
    std::string serial;
    ASSERT_EQ(ReadIDCardData(record, serial, tree.ProgramFolder()), 0);

    // With every file gone the bound library still serves the next pass.
    fs::remove_all(tree.Bin());
    fs::remove_all(tree.Conf());
    EXPECT_TRUE(LoadIDCardLib(tree.ProgramFolder()));
    EXPECT_EQ(ReadIDCardData(record, serial, tree.ProgramFolder()), 0);
    EXPECT_EQ(tree.TakeCalls().size(), 2 * AllCalls.size());
}

TEST(LoadIDCardLib, TakesTheCopyInTheProgramsFolder) {
    EXPECT_IN_FRESH_PROCESS([] {
        TFindings found;
        TFakeVendorTree tree;
        PrepareIDCardLibs(tree.ProgramFolder());
        IDCardRecord record{};
        std::string serial;
        found.Expect(ReadIDCardData(record, serial, tree.ProgramFolder()) == 0, "pass failed");
        found.Expect(IsLoaded(tree.Bin() / "libSyn_IDCardRead.so"), "program folder's copy unused");
        found.Expect(!IsLoaded(tree.Conf() / "libSyn_IDCardRead.so"), "source loaded as well");
        return found;
    });
}

TEST(LoadIDCardLib, FallsBackToTheSourceWhenTheFolderTakesNoCopy) {
    EXPECT_IN_FRESH_PROCESS([] {
        TFindings found;
        TFakeVendorTree tree;
        // The program's folder does not exist, so the copy fails.
        fs::remove(tree.Bin());
        PrepareIDCardLibs(tree.ProgramFolder());
        found.Expect(!fs::exists(tree.Bin()), "program folder made");
        IDCardRecord record{};
        std::string serial;
        found.Expect(ReadIDCardData(record, serial, tree.ProgramFolder()) == 0, "pass failed");
        found.Expect(IsLoaded(tree.Conf() / "libSyn_IDCardRead.so"), "source not loaded");
        return found;
    });
}

TEST(LoadIDCardLib, WithoutTheLibraryNothingIsCalledAndTheNextPassTriesAgain) {
    EXPECT_IN_FRESH_PROCESS([] {
        TFindings found;
        TFakeVendorTree tree;
        const fs::path parked = tree.Root() / "parked.so";
        fs::rename(tree.Conf() / "libSyn_IDCardRead.so", parked);
        PrepareIDCardLibs(tree.ProgramFolder());
        IDCardRecord record{};
        std::string serial = "stale";
        found.Expect(!LoadIDCardLib(tree.ProgramFolder()), "loaded without a library");
        found.Expect(ReadIDCardData(record, serial, tree.ProgramFolder()) == IDCardLibMissing,
                     "pass without a library did not fail");
        found.Expect(serial.empty(), "serial not emptied");

        // The library appears: the next pass finds it.
        fs::rename(parked, tree.Conf() / "libSyn_IDCardRead.so");
        found.Expect(ReadIDCardData(record, serial, tree.ProgramFolder()) == 0,
                     "pass after the library appeared failed");
        found.Expect(tree.TakeCalls() == AllCalls, "calls differ");
        return found;
    });
}

TEST(LoadIDCardLib, ALibraryLackingAnEntryPointIsNotUsed) {
    EXPECT_IN_FRESH_PROCESS([] {
        TFindings found;
        TFakeVendorTree tree(FAKE_VENDOR_PARTIAL_LIB);
        PrepareIDCardLibs(tree.ProgramFolder());
        IDCardRecord record{};
        std::string serial;
        found.Expect(!LoadIDCardLib(tree.ProgramFolder()), "bound without Syn_ReadMsg");
        found.Expect(ReadIDCardData(record, serial, tree.ProgramFolder()) == IDCardLibMissing,
                     "pass did not fail");
        found.Expect(tree.TakeCalls().empty(), "an entry point was called");
        return found;
    });
}
