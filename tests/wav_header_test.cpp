#include "common/stereo_wav_writer.h"
#include "common/wav_header.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

namespace {

std::string bytesOf(const WavHeader& header)
{
    std::ostringstream out;
    header.write(out);
    return out.str();
}

std::string dumpOf(const WavHeader& header)
{
    std::ostringstream report;
    header.dump(report);
    return report.str();
}

WavHeader parsed(const std::string& bytes)
{
    std::istringstream in(bytes);
    WavHeader header;
    header.read(in);
    return header;
}

} // namespace

TEST(WavHeader, GeneratorHeaderIs44LittleEndianBytes)
{
    const std::string expected("RIFF\x74\xDB\x0F\x01WAVEfmt \x10\0\0\0\x01\0\x02\0\x44\xAC\0\0"
                               "\x10\xB1\x02\0\x04\0\x10\0data\x50\xDB\x0F\x01",
                               44);
    EXPECT_EQ(bytesOf(WavHeader::forData(17816400)), expected);
}

TEST(WavHeader, DumpOfDefaultSweepHeader)
{
    WavHeader header = parsed(bytesOf(WavHeader::forData(17816400)));
    EXPECT_EQ(dumpOf(header),
              "   chunkID:\tRIFF\n chunkSize:\t17816436\n    format:\tWAVE\n"
              "   chunkID:\tfmt \n chunkSize:\t16\n   fmtCode:\t1\n   numChan:\t2\n"
              "  sampRate:\t44100\n  byteRate:\t176400\nblockAlign:\t4\n  bitsSamp:\t16\n"
              "   chunkID:\tdata\n chunkSize:\t17816400\n");
    EXPECT_TRUE(header.describesGeneratorFormat());
}

TEST(WavHeader, FieldsReadAsSignedAndCodesStopAtZeroByte)
{
    std::string bytes = bytesOf(WavHeader::forData(17816400));
    bytes[8 + 1] = '\0';                 // "W\0VE"
    bytes[12 + 8] = '\xFE';              // fmtCode 65534
    bytes[12 + 9] = '\xFF';
    bytes[12 + 4] = 40;                  // a 40-byte fmt chunk
    bytes[36 + 7] = '\x90';              // data size above 2^31
    WavHeader header = parsed(bytes);
    EXPECT_EQ(header.fmt.fmtCode, -2);
    EXPECT_EQ(header.data.chunkSize, static_cast<std::int32_t>(0x900FDB50ll - 0x100000000ll));
    std::string dump = dumpOf(header);
    EXPECT_NE(dump.find("    format:\tW\n"), std::string::npos);
    EXPECT_NE(dump.find("   fmtCode:\t-2\n"), std::string::npos);
    EXPECT_NE(dump.find(" chunkSize:\t40\n"), std::string::npos);
    EXPECT_NE(dump.find(" chunkSize:\t-1878009008\n"), std::string::npos);
    EXPECT_FALSE(header.describesGeneratorFormat());
}

TEST(WavHeader, EachDifferingFieldIsNoticed)
{
    const std::string good = bytesOf(WavHeader::forData(100));
    // Offsets of every byte that the format check covers; the two sizes
    // that follow the data (4..7 and 40..43) are not among them.
    for (int offset : {0, 3, 8, 11, 12, 15, 16, 20, 21, 22, 24, 28, 32, 34, 36, 39}) {
        std::string bytes = good;
        bytes[static_cast<std::size_t>(offset)] ^= 0x01;
        EXPECT_FALSE(parsed(bytes).describesGeneratorFormat()) << offset;
    }
    for (int offset : {4, 7, 40, 43}) {
        std::string bytes = good;
        bytes[static_cast<std::size_t>(offset)] ^= 0x01;
        EXPECT_TRUE(parsed(bytes).describesGeneratorFormat()) << offset;
    }
}

TEST(WavHeader, ShortReadSetsEndOfFileAndKeepsObtainedBytes)
{
    std::string bytes = bytesOf(WavHeader::forData(17816400)).substr(0, 43);
    std::istringstream in(bytes);
    WavHeader header;
    header.read(in);
    EXPECT_TRUE(in.eof());
    EXPECT_EQ(header.fmt.bitsSamp, 16);
    std::istringstream exact(bytesOf(WavHeader::forData(0)));
    header.read(exact);
    EXPECT_FALSE(exact.eof());
}

TEST(StereoWavWriter, RoundsHalvesToEvenAndHoldsTheRange)
{
    struct Case {
        double value;
        std::int16_t sample;
        bool held;
    } cases[] = {{0.5, 0, false},         {1.5, 2, false},         {-2.5, -2, false},      {32767.4, 32767, false},
                 {32767.5, 32767, true},  {-32768.5, -32768, false}, {-32769, -32768, true}, {1e300, 32767, true},
                 {std::nan(""), 0, false}};
    for (const Case& c : cases) {
        bool held = !c.held;
        EXPECT_EQ(toSample16(c.value, held), c.sample) << c.value;
        EXPECT_EQ(held, c.held) << c.value;
    }
}

TEST(StereoWavWriter, WritesTheGeneratorsHeaderAndFixesItsSizes)
{
    std::stringstream file;
    StereoWavWriter writer(file);
    EXPECT_FALSE(writer.begin(StereoWavWriter::maxFrames + 1));
    ASSERT_TRUE(writer.begin(0));
    const std::int16_t frames[] = {1, -2, 300, -32768};
    writer.put(frames, 2);
    ASSERT_TRUE(writer.fixSizes());
    std::string bytes = file.str();
    ASSERT_EQ(bytes.size(), 44u + 8u);
    EXPECT_EQ(bytes.substr(0, 44), bytesOf(WavHeader::forData(8)));
    EXPECT_EQ(bytes.substr(44), std::string("\x01\x00\xfe\xff\x2c\x01\x00\x80", 8));
}
