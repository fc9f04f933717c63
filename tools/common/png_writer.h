#pragma once
// Writes 8-bit RGB pictures as PNG files: the zlib stream uses stored
// blocks, so no compression library is needed (the files are larger than a
// compressor would make them, and every viewer reads them).

#include <cstdint>
#include <cstdio>
#include <vector>

namespace kv20x::tools {

class PngWriter {
public:
    // `rgb`: rows top to bottom, 3 bytes per pixel in red, green, blue order.
    static bool Write(const char* path, const std::uint8_t* rgb, std::uint32_t width, std::uint32_t height)
    {
        std::vector<std::uint8_t> raw;
        raw.reserve(static_cast<size_t>(height) * (width * 3 + 1));
        for (std::uint32_t y = 0; y < height; ++y) {
            raw.push_back(0);  // no filter
            raw.insert(raw.end(), rgb + static_cast<size_t>(y) * width * 3, rgb + static_cast<size_t>(y + 1) * width * 3);
        }
        std::vector<std::uint8_t> zlib = {0x78, 0x01};
        for (size_t offset = 0; offset < raw.size() || offset == 0;) {
            const size_t length = raw.size() - offset < 65535 ? raw.size() - offset : 65535;
            const bool last = offset + length == raw.size();
            zlib.push_back(last ? 1 : 0);
            zlib.push_back(static_cast<std::uint8_t>(length));
            zlib.push_back(static_cast<std::uint8_t>(length >> 8));
            zlib.push_back(static_cast<std::uint8_t>(~length));
            zlib.push_back(static_cast<std::uint8_t>(~length >> 8));
            zlib.insert(zlib.end(), raw.begin() + static_cast<long>(offset), raw.begin() + static_cast<long>(offset + length));
            offset += length;
            if (last)
                break;
        }
        AppendBigEndian(zlib, Adler32(raw));

        std::FILE* file = std::fopen(path, "wb");
        if (!file)
            return false;
        static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        std::fwrite(signature, 1, sizeof signature, file);
        std::vector<std::uint8_t> header;
        AppendBigEndian(header, width);
        AppendBigEndian(header, height);
        header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter choice, no interlace
        Chunk(file, "IHDR", header);
        Chunk(file, "IDAT", zlib);
        Chunk(file, "IEND", {});
        return std::fclose(file) == 0;
    }

private:
    static void AppendBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value)
    {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
    static std::uint32_t Adler32(const std::vector<std::uint8_t>& data)
    {
        std::uint32_t a = 1, b = 0;
        for (std::uint8_t byte : data) {
            a = (a + byte) % 65521;
            b = (b + a) % 65521;
        }
        return b << 16 | a;
    }
    static std::uint32_t Crc32(const std::uint8_t* data, size_t length, std::uint32_t crc)
    {
        for (size_t i = 0; i < length; ++i) {
            crc ^= data[i];
            for (int bit = 0; bit < 8; ++bit)
                crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
        }
        return crc;
    }
    static void Chunk(std::FILE* file, const char* type, const std::vector<std::uint8_t>& data)
    {
        std::vector<std::uint8_t> length;
        AppendBigEndian(length, static_cast<std::uint32_t>(data.size()));
        std::fwrite(length.data(), 1, 4, file);
        std::fwrite(type, 1, 4, file);
        if (!data.empty())
            std::fwrite(data.data(), 1, data.size(), file);
        std::uint32_t crc = Crc32(reinterpret_cast<const std::uint8_t*>(type), 4, 0xFFFFFFFFu);
        crc = Crc32(data.data(), data.size(), crc) ^ 0xFFFFFFFFu;
        std::vector<std::uint8_t> trailer;
        AppendBigEndian(trailer, crc);
        std::fwrite(trailer.data(), 1, 4, file);
    }
};

}  // namespace kv20x::tools
