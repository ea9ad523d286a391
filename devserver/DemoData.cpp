#include "DemoData.h"

#include "Cipher.h"
#include "DataPacket.h"

#include <CodePage.h>
#include <array>
#include <cstdint>
#include <ctime>
#include <string_view>

namespace tarvo::devserver {

namespace {

void PutLe(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

// The store keeps UTF-8: u8 literals as plain byte strings.
std::string U8(std::u8string_view text) {
    return std::string(text.begin(), text.end());
}

struct Rgb {
    unsigned char R, G, B;
};

} // namespace

std::string MakeBmp(int width, int height, unsigned seed) {
    const int rowSize = (width * 3 + 3) / 4 * 4;
    const auto imageSize = static_cast<std::uint32_t>(rowSize * height);
    std::string bmp;
    bmp.reserve(54 + imageSize);
    // File header.
    bmp += "BM";
    PutLe(bmp, 54 + imageSize, 4);
    PutLe(bmp, 0, 4);
    PutLe(bmp, 54, 4);
    // Info header: 40 bytes, one plane, 24 bits, no compression, 96 dpi.
    PutLe(bmp, 40, 4);
    PutLe(bmp, static_cast<std::uint32_t>(width), 4);
    PutLe(bmp, static_cast<std::uint32_t>(height), 4);
    PutLe(bmp, 1, 2);
    PutLe(bmp, 24, 2);
    PutLe(bmp, 0, 4);
    PutLe(bmp, imageSize, 4);
    PutLe(bmp, 3780, 4);
    PutLe(bmp, 3780, 4);
    PutLe(bmp, 0, 4);
    PutLe(bmp, 0, 4);

    const Rgb background{static_cast<unsigned char>(200 + seed * 7 % 50),
                         static_cast<unsigned char>(215 + seed * 3 % 35), 240};
    const Rgb skin{238, 200, 170};
    const Rgb hair{static_cast<unsigned char>(30 + seed * 11 % 60), 25, 20};
    const Rgb cloth{static_cast<unsigned char>(seed * 53 % 200),
                    static_cast<unsigned char>(60 + seed * 29 % 150),
                    static_cast<unsigned char>(90 + seed * 17 % 160)};
    const int cx = width / 2;
    const int headY = height * 36 / 100; // from the top
    const int headR = width * 22 / 100;
    // Rows are stored bottom-up.
    for (int row = height - 1; row >= 0; --row) {
        std::string line;
        for (int x = 0; x < width; ++x) {
            const int dx = x - cx;
            const int dy = row - headY;
            Rgb pixel = background;
            if (row > height * 70 / 100 && (dx * dx) * 4 < (row - height * 55 / 100) * width * 2) {
                pixel = cloth;
            } else if (dx * dx + dy * dy * 3 / 4 <= headR * headR) {
                pixel = (dy < -headR / 2) ? hair : skin;
            }
            line.push_back(static_cast<char>(pixel.B));
            line.push_back(static_cast<char>(pixel.G));
            line.push_back(static_cast<char>(pixel.R));
        }
        line.resize(static_cast<std::size_t>(rowSize), '\0');
        bmp += line;
    }
    return bmp;
}

bool FillDemo(Store& store) {
    if (store.AgentCount() > 0) {
        return false;
    }
    AgentRecord agent;
    agent.Account = kDemoAccount;
    agent.Password = PasswordCipher(kDemoAccount, kDemoPassword);
    agent.Name = U8(u8"演示代理商");
    agent.IdCardNum = "110101198001010015";
    agent.Quota = 200;
    const std::int64_t agentId = store.AddAgent(agent);

    static constexpr std::array<std::u8string_view, 15> kSurnames{
        u8"王", u8"李", u8"张", u8"刘", u8"陈", u8"杨", u8"赵", u8"黄",
        u8"周", u8"吴", u8"徐", u8"孙", u8"胡", u8"朱", u8"高"};
    static constexpr std::array<std::u8string_view, 9> kGivenNames{
        u8"伟", u8"芳", u8"娜", u8"秀英", u8"敏", u8"静", u8"丽", u8"强", u8"磊"};
    static constexpr std::array<std::u8string_view, 3> kNations{u8"汉", u8"回", u8"满"};

    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    for (int i = 0; i < kDemoStudents; ++i) {
        StudentRecord s;
        s.AgentId = agentId;
        s.Name = U8(kSurnames[static_cast<std::size_t>(i) % kSurnames.size()]) +
                 U8(kGivenNames[static_cast<std::size_t>(i * 7) % kGivenNames.size()]);
        // 1391234 then four digits: at most four equal digits in all.
        s.Account = "1391234" + std::to_string(5000 + i * 37);
        s.VerifyCode = std::to_string(100000 + (i * 7919 + 4057) % 900000);
        // Registered one a day, oldest first; due a year after each.
        s.RegDate = now - static_cast<std::int64_t>(kDemoStudents - i) * 86400;
        s.DueDate = OneYearLater(s.RegDate);
        if (i % 3 == 0) {
            s.Sex = U8(i % 2 ? u8"女" : u8"男");
            s.Nation = U8(kNations[static_cast<std::size_t>(i) % kNations.size()]);
            s.Born =
                "2000" + std::string(i % 12 < 9 ? "0" : "") + std::to_string(i % 12 + 1) + "15";
            s.Address = U8(u8"北京市东城区演示路") + std::to_string(i + 1) + U8(u8"号");
            s.GrantDept = U8(u8"北京市公安局东城分局");
            s.IdCardNum = "11010120000115" + std::to_string(1000 + i);
            s.UserLifeBegin = "20200101";
            s.UserLifeEnd = "20300101";
            s.PhotoPath = "C:\\Tarvo\\Photo\\" + std::to_string(i + 1) + ".bmp";
            s.Photo = MakeBmp(102, 126, static_cast<unsigned>(i));
        }
        store.AddStudent(s);
    }
    return true;
}

} // namespace tarvo::devserver
