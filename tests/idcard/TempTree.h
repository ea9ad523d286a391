// A temporary installation tree for the driver's tests: <root>/bin/ as the
// program's folder and <root>/Conf/DKQ-116D/ as the vendor files' source.
#pragma once

#include "TempDir.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

class TTempTree {
public:
    TTempTree() { fs::create_directories(Conf()); }

    const fs::path& Root() const { return FRoot.Path(); }
    fs::path Bin() const { return Root() / "bin"; }
    fs::path Conf() const { return Root() / "Conf" / "DKQ-116D"; }
    // The program's folder as the driver takes it, with its trailing '/'.
    std::string ProgramFolder() const { return Bin().string() + "/"; }

private:
    testsupport::TempDir FRoot{"tarvo-idcard"};
};

inline void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The names in a folder, sorted; empty when it does not exist.
inline std::vector<std::string> Entries(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
