#pragma once

#include <string>

// The program's 8-bit texts are Windows-1252 bytes; widgets work in Unicode. Every byte
// maps to one character and back, so a text round-trips byte for byte; characters that
// Windows-1252 cannot hold become '?'.
std::string ansiToUtf8(const std::string& ansi);
std::string utf8ToAnsi(const std::string& utf8);
