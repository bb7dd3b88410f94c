// The RCT layout reader the loader and the converter share: where each part lies, and which
// fault wins when a file has several.
#include "image/rct_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/rct_encoder.h"

namespace {

// The 20-byte header as the encoder writes it, with the sizes then set to any value.
std::string Header(int variant, uint32_t width, uint32_t height, uint32_t payloadSize)
{
    std::vector<unsigned char> file;
    std::string error;
    EXPECT_TRUE(BuildRctFile(variant, "", 1, 1, {1, 2, 3}, file, error)) << error;
    file.resize(RCT_HEADER_SIZE);
    SetUi32(&file[8], width);
    SetUi32(&file[12], height);
    SetUi32(&file[16], payloadSize);
    return std::string(file.begin(), file.end());
}

// A header whose magic names no variant: the digits after "TC" are 02.
std::string UnknownHeader()
{
    std::string header = Header(RCT_TC00, 1, 1, 3);
    header[7] = '2';
    return header;
}

std::string Name(const std::string& name)
{
    return std::string(1, (char)name.size()) + std::string(1, (char)(name.size() >> 8)) + name;
}

struct Read {
    int result;
    RctLayout layout;
    size_t position;
};

Read ReadLayout(const std::string& file)
{
    MemoryStream memory{reinterpret_cast<const unsigned char*>(file.data()), file.size(), 0};
    ByteStream stream = MemoryByteStream(&memory);
    Read read{};
    read.result = ReadRctLayout(&stream, &read.layout);
    read.position = memory.position;
    return read;
}

TEST(ReadRctLayout, FindsTheNameAndThePayloadAndStopsAtThePayload)
{
    const struct {
        const char* label;
        std::string file;
        int variant;
        size_t nameOffset, nameLength, payloadOffset;
    } cases[] = {
        {"nameless", Header(RCT_TC00, 1, 1, 3) + "abcXY", RCT_TC00, 0, 0, 20},
        {"scrambled", Header(RCT_TS00, 1, 1, 3) + "aTS", RCT_TS00, 0, 0, 20},
        {"named", Header(RCT_TC01, 1, 1, 3) + Name("title") + "abc", RCT_TC01, 22, 5, 27},
        {"empty name", Header(RCT_TS01, 1, 1, 3) + Name("") + "aTS", RCT_TS01, 22, 0, 22},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Read read = ReadLayout(c.file);
        ASSERT_EQ(read.result, RCT_LAYOUT_OK);
        EXPECT_EQ(read.layout.header.variant, c.variant);
        EXPECT_EQ(read.layout.header.payloadSize, 3u);
        EXPECT_EQ((size_t)read.layout.nameOffset, c.nameOffset);
        EXPECT_EQ(read.layout.nameLength, c.nameLength);
        EXPECT_EQ((size_t)read.layout.payloadOffset, c.payloadOffset);
        EXPECT_EQ((size_t)read.layout.bytesFromPayload, c.file.size() - c.payloadOffset);
        EXPECT_EQ(read.position, c.payloadOffset);
    }
}

TEST(ReadRctLayout, RefusesEachFaultAndTheFirstOneWins)
{
    const struct {
        const char* label;
        std::string file;
        int result;
    } cases[] = {
        {"empty", "", RCT_LAYOUT_HEADER_CUT},
        {"header cut", Header(RCT_TC00, 1, 1, 3).substr(0, 19), RCT_LAYOUT_HEADER_CUT},
        {"unknown variant", UnknownHeader() + "abc", RCT_LAYOUT_UNKNOWN_MAGIC},
        {"name length cut", Header(RCT_TC01, 1, 1, 3) + "\x05", RCT_LAYOUT_NAME_CUT},
        {"name cut", Header(RCT_TC01, 1, 1, 3) + Name("title").substr(0, 4), RCT_LAYOUT_NAME_CUT},
        {"name cut before a payload size of 0", Header(RCT_TC01, 1, 1, 0) + Name("title").substr(0, 4),
         RCT_LAYOUT_NAME_CUT},
        {"payload size 0", Header(RCT_TC00, 1, 1, 0), RCT_LAYOUT_NO_PAYLOAD},
        {"zero width", Header(RCT_TC00, 0, 1, 3) + "abc", RCT_LAYOUT_UNSUPPORTED},
        {"huge size", Header(RCT_TC00, 0xFFFFFFFFu, 0xFFFFFFFFu, 3) + "abc", RCT_LAYOUT_UNSUPPORTED},
        // An unsupported size is refused at once, even when the payload is cut too.
        {"huge size and payload cut", Header(RCT_TC00, 0xFFFFFFFFu, 1, 300) + "abc", RCT_LAYOUT_UNSUPPORTED},
        {"payload cut", Header(RCT_TC00, 2, 1, 6) + "abc\x80", RCT_LAYOUT_PAYLOAD_CUT},
        {"payload far beyond the file", Header(RCT_TC01, 2, 1, 0xFFFFFFF0u) + Name("t") + "abc", RCT_LAYOUT_PAYLOAD_CUT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(ReadLayout(c.file).result, c.result);
    }
}

}  // namespace
