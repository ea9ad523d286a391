// Fresh folders under $TMPDIR (else /tmp) for one test, removed with all
// they hold when the object goes: a plain one, and one laid out as the
// program's installation. Header-only: targets that need nothing else of the
// test support code include it without linking it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace testsupport {

class TempDir {
public:
    // "<TMPDIR>/<stem>-XXXXXX"; throws when it cannot be made.
    explicit TempDir(std::string_view stem = "tarvo-test") {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = (base != nullptr && *base != '\0' ? std::string(base) : "/tmp") +
                              "/" + std::string(stem) + "-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot make a folder like " + pattern);
        FPath = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return FPath; }
    // The path of `name` (which may hold folders) inside, as text.
    std::string operator/(std::string_view name) const { return (FPath / name).string(); }
    // Writes `bytes` to `name` inside; its path.
    std::string Write(std::string_view name, std::string_view bytes) const {
        const std::string path = *this / name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out)
            throw std::runtime_error("cannot write " + path);
        return path;
    }

private:
    std::filesystem::path FPath;
};

// An installation in a fresh folder: <root>/bin as the program's folder (the
// program file itself is never made) and <root>/Conf beside it, made only
// when something is written there.
class TempInstallation {
public:
    explicit TempInstallation(std::string_view stem = "tarvo-install") : FRoot(stem) {
        std::filesystem::create_directories(Bin());
    }

    const std::filesystem::path& Root() const { return FRoot.Path(); }
    std::filesystem::path Bin() const { return Root() / "bin"; }
    std::filesystem::path Conf() const { return Root() / "Conf"; }
    std::filesystem::path ConfFile() const { return Conf() / "Tarvo.conf"; }
    std::string Program() const { return (Bin() / "TarvoAdmin").string(); }
    // Writes Conf/Tarvo.conf.
    void WriteConf(std::string_view bytes) const {
        std::filesystem::create_directories(Conf());
        FRoot.Write("Conf/Tarvo.conf", bytes);
    }

private:
    TempDir FRoot;
};

} // namespace testsupport
