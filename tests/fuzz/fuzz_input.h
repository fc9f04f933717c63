#pragma once
// Reads a fuzzer's input as a stream of small decisions; past its end every
// read answers zero, so any input is a complete script.

#include <cstddef>
#include <cstdint>

namespace kv20x::fuzz {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    std::uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    std::uint32_t Word()
    {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value |= static_cast<std::uint32_t>(Byte()) << (8 * i);
        return value;
    }
    // 0 .. limit-1
    std::uint32_t Below(std::uint32_t limit) { return limit ? Word() % limit : 0; }
    bool Empty() const { return m_at >= m_size; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

}  // namespace kv20x::fuzz
