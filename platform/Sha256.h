#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// SHA-256 of bytes, for the fingerprints a job keeps of the files it names.
class Sha256 {
public:
    Sha256();
    void add(std::string_view bytes);
    // The digest as 64 lowercase hexadecimal digits; the object is spent afterwards.
    std::string hex();

private:
    void block(const unsigned char* data);

    std::uint32_t m_state[8];
    unsigned char m_buffer[64];
    std::size_t m_buffered = 0;
    std::uint64_t m_length = 0;
};

std::string sha256Hex(std::string_view bytes);
