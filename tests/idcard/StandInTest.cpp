// The driver against the stand-in reader library as the program uses it: the
// test program lies in bin/ beside the program, with $ORIGIN in its RUNPATH,
// and the library with its sample cards in Conf/DKQ-116D.
#include "CodePage.h"
#include "TempTree.h"
#include "Unitidcardreader.h"

#include <cstdint>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <set>

namespace {

// Check digit of a citizen identity number (GB 11643) from its first 17 digits.
char CheckDigit(const std::string& number) {
    static constexpr int Weights[17] = {7, 9, 10, 5, 8, 4, 2, 1, 6, 3, 7, 9, 10, 5, 8, 4, 2};
    int sum = 0;
    for (std::size_t i = 0; i < 17; ++i)
        sum += (number.at(i) - '0') * Weights[i];
    return "10X98765432"[sum % 11];
}

std::uint32_t LE(const std::string& bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes.at(at + static_cast<std::size_t>(i)));
    return value;
}

// What is wrong with a file that should be a 102 x 126 uncompressed 24-bit
// BMP showing a picture; empty when nothing is.
std::string BmpFaults(const fs::path& path) {
    const std::string bmp = ReadFile(path);
    if (bmp.size() < 54 || bmp.compare(0, 2, "BM") != 0)
        return "no BMP file header";
    const std::uint32_t rowSize = (102 * 3 + 3) / 4 * 4;
    std::string faults;
    const auto expect = [&](bool ok, const char* what) {
        faults += ok ? "" : std::string(what) + ";";
    };
    expect(LE(bmp, 2, 4) == bmp.size(), "file size");
    expect(LE(bmp, 10, 4) == 54, "pixel offset");
    expect(LE(bmp, 14, 4) == 40, "info header size");
    expect(LE(bmp, 18, 4) == 102, "width");
    expect(LE(bmp, 22, 4) == 126 || LE(bmp, 22, 4) == static_cast<std::uint32_t>(-126), "height");
    expect(LE(bmp, 26, 2) == 1, "planes");
    expect(LE(bmp, 28, 2) == 24, "bits per pixel");
    expect(LE(bmp, 30, 4) == 0, "compression");
    expect(bmp.size() == 54 + rowSize * 126, "pixel bytes");
    if (!faults.empty())
        return faults;
    std::set<std::uint32_t> colours;
    for (std::uint32_t row = 0; row < 126; ++row)
        for (std::uint32_t x = 0; x < 102; ++x)
            colours.insert(LE(bmp, 54 + row * rowSize + x * 3, 3));
    return colours.size() >= 4 ? "" : "hardly a picture";
}

// Photos go into a temporary folder of the test's own; no card is named.
// Cards of the test's own lie in the root of FTemp.
class StandIn : public testing::Test {
protected:
    void SetUp() override {
        ::unsetenv("TARVO_IDCARD_FILE");
        fs::create_directory(Photos());
        ::setenv("TMPDIR", Photos().c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("TARVO_IDCARD_FILE");
        ::unsetenv("TMPDIR");
    }

    fs::path Photos() const { return FTemp.Root() / "photos"; }
    std::string Samples() const { return GetIDCardSourceFolder(GetProgramFolder()); }
    // A pass as the editor runs it.
    int Pass(IDCardRecord& record, std::string& serial) {
        record.fill(0);
        PrepareIDCardLibs();
        return ReadIDCardData(record, serial);
    }

    TTempTree FTemp;
};

} // namespace

TEST_F(StandIn, ReadsEachSampleCard) {
    struct Case {
        const char* file; // "" for the card the library finds by itself
        std::u8string name;
        std::string number;
        std::u8string nation;
        std::string born;
        std::u8string lifeEnd;
    };
    const Case cases[] = {
        {"", u8"林晓雨", "110101199803140022", u8"汉", "1998-03-14", u8"2028-05-20"},
        {"card2.ini", u8"马建国", "31011519650822003X", u8"回", "1965-08-22", u8"长期"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.number);
        if (*c.file != '\0')
            ::setenv("TARVO_IDCARD_FILE", (Samples() + c.file).c_str(), 1);
        IDCardRecord record;
        std::string serial;
        ASSERT_EQ(Pass(record, serial), 0);
        EXPECT_EQ(serial, "05.01-20240315-0011223-3344556677");

        const SStuInfo card = DecodeIDCardRecord(record);
        EXPECT_EQ(card.Name, Gbk(c.name));
        EXPECT_EQ(card.IDCardNum, c.number);
        EXPECT_EQ(card.IDCardNum.back(), CheckDigit(card.IDCardNum));
        EXPECT_EQ(card.Nation, Gbk(c.nation));
        EXPECT_EQ(card.Born, c.born);
        EXPECT_EQ(card.Born, FormatCardDate(card.IDCardNum.substr(6, 8)));
        EXPECT_EQ(card.UserLifeEnd, Gbk(c.lifeEnd));
        EXPECT_FALSE(card.Address.empty());
        EXPECT_FALSE(card.GrantDept.empty());

        const fs::path photo = card.PhotoFile;
        EXPECT_EQ(photo.parent_path(), Photos());
        EXPECT_EQ(photo.extension(), ".bmp");
        ASSERT_TRUE(fs::is_regular_file(photo)) << photo;
        EXPECT_EQ(BmpFaults(photo), "") << photo;
    }
    // The library the program's folder holds is the one read from.
    void* handle = ::dlopen((GetProgramFolder() + IDCardMainLib).c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(handle, nullptr);
    if (handle != nullptr)
        ::dlclose(handle);
}

TEST_F(StandIn, WithoutAReadableCardThePassFails) {
    WriteFile(FTemp.Root() / "long-name.ini",
              "[card]\nname=" + std::string(32, 'N') + "\nidcardnum=110101199803140022\n");
    WriteFile(FTemp.Root() / "no-gbk.ini", "[card]\nname=\xF0\x9F\x98\x80\n");
    WriteFile(FTemp.Root() / "bad-colour.ini", "[card]\nname=x\n[photo]\nskin=pink\n");
    for (const char* file : {"none.ini", "long-name.ini", "no-gbk.ini", "bad-colour.ini"}) {
        SCOPED_TRACE(file);
        ::setenv("TARVO_IDCARD_FILE", (FTemp.Root() / file).c_str(), 1);
        IDCardRecord record;
        std::string serial;
        EXPECT_NE(Pass(record, serial), 0);
        EXPECT_EQ(DecodeIDCardRecord(record).Name, "");
        EXPECT_TRUE(Entries(Photos()).empty()) << "a photo was written";
    }
}
