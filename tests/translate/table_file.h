// The table file of the repository, read as bytes, for tests that check the real table.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

inline std::string ReadTableFile() {
    std::ifstream in(TARNELL_SOURCE_DIR "/resources/translate.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
