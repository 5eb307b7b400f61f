#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The program's 8-bit texts are Windows-1252 bytes; widgets work in Unicode. Every byte
// maps to one character and back, so a text round-trips byte for byte; characters that
// Windows-1252 cannot hold become '?'.
std::string ansiToUtf8(const std::string& ansi);
std::string utf8ToAnsi(const std::string& utf8);

// The length of the well-formed UTF-8 sequence that starts at text[i] (1 for ASCII), or 0
// when the bytes there are not one: a stray byte, an overlong form, a surrogate.
std::size_t utf8SequenceLength(std::string_view text, std::size_t i);
