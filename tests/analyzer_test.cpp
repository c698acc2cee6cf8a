#include "common/burst_schedule.h"
#include "common/report_format.h"
#include "common/tone_burst.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

const std::string& defaultSweep()
{
    return generatedFile({});
}

// The rows computed the plain way: every sample read with its own
// 2-byte read from a stream whose end-of-file and fail states are kept by
// hand. Deliberately naive, to hold the block-wise reader against it.
struct NaiveStream {
    const std::string& bytes;
    std::size_t position = 0;
    bool eof = false;
    bool fail = false;

    void read(std::int16_t& value)
    {
        if (eof || fail) {
            fail = true;
            return;
        }
        std::size_t left = bytes.size() - position;
        auto bits = static_cast<std::uint16_t>(value);
        if (left >= 1)
            bits = static_cast<std::uint16_t>((bits & 0xFF00u) | static_cast<unsigned char>(bytes[position]));
        if (left >= 2)
            bits = static_cast<std::uint16_t>((bits & 0x00FFu) | (static_cast<unsigned char>(bytes[position + 1]) << 8));
        value = static_cast<std::int16_t>(bits);
        position += std::min<std::size_t>(left, 2);
        if (left < 2)
            eof = fail = true;
    }
};

std::string naiveRows(const std::string& file, BurstSchedule schedule, std::string& errors)
{
    std::ostringstream out;
    NaiveStream in{file};
    in.position = 44;
    std::int16_t scratch = 0;
    for (std::int32_t i = 0; i < 2 * schedule.delay; ++i)
        in.read(scratch);
    for (schedule.begin(); schedule.hasMore(); schedule.next()) {
        if (in.eof) {
            errors = "Failed to read tone bursts from disk.\n";
            return out.str();
        }
        schedule.printRow(out);
        out << '\t';
        std::int16_t s1 = 0, s2 = 0;
        std::complex<double> sums[4];
        for (std::int32_t r = 0; r < schedule.numAvg; ++r)
            for (std::int32_t n = 0; n < schedule.interval; ++n) {
                in.read(s1);
                in.read(s2);
                double theta = schedule.omega * n;
                std::complex<double> p(std::cos(theta), std::sin(theta));
                if (n < schedule.duration) {
                    sums[0] += std::complex<double>(s1 * p.real(), s1 * p.imag());
                    sums[1] += std::complex<double>(s2 * p.real(), s2 * p.imag());
                }
                if (n >= schedule.interval - 2 * schedule.duration && n < schedule.interval - schedule.duration) {
                    sums[2] += std::complex<double>(s1 * p.real(), s1 * p.imag());
                    sums[3] += std::complex<double>(s2 * p.real(), s2 * p.imag());
                }
            }
        double d = static_cast<double>(schedule.duration * schedule.numAvg) * analyzerScale;
        for (auto& sum : sums)
            sum = std::complex<double>(sum.real() / d, sum.imag() / d);
        double a1 = std::abs(sums[0]), a2 = std::abs(sums[1]);
        double p1 = std::atan2(sums[0].imag(), sums[0].real()), p2 = std::atan2(sums[1].imag(), sums[1].real());
        double values[] = {a1, a2, 20 * std::log10(a1), 20 * std::log10(a2), 20 * std::log10(a1 / a2), p1, p2,
                           p1 - p2, 20 * std::log10(std::abs(sums[2])), 20 * std::log10(std::abs(sums[3]))};
        for (int i = 0; i < 10; ++i) {
            writeReal(out, values[i]);
            out << (i < 9 ? '\t' : '\n');
        }
    }
    return out.str();
}

std::string rowsOf(const std::string& report)
{
    std::size_t header = report.find("numCyc\t");
    return report.substr(report.find('\n', header) + 1);
}

double number(const std::string& text)
{
    return std::strtod(text.c_str(), nullptr);
}

std::string silenceChannel(std::string file, int channel)
{
    for (std::size_t offset = 44 + 2 * static_cast<std::size_t>(channel); offset + 1 < file.size(); offset += 4)
        file.replace(offset, 2, 2, '\0');
    return file;
}

} // namespace

TEST(Analyzer, GeneratorsOwnFilesReadUnityGain)
{
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, std::vector<std::string>{"22050", "1", "1000", "polar"}}) {
        RunResult run = runAnalyzerOn(generatedFile(args), args);
        ASSERT_EQ(run.code, 0);
        EXPECT_EQ(run.errors, "");
        auto rows = reportRows(run.report);
        ASSERT_EQ(rows.size(), args.empty() ? 201u : 72u);
        for (const auto& row : rows) {
            ASSERT_EQ(row.size(), 14u);
            for (int channel : {4, 5}) {
                EXPECT_LE(number(row[channel]), 1.0);
                EXPECT_GE(number(row[channel]), 0.9999);
                EXPECT_LE(number(row[channel + 2]), 0.0);
                EXPECT_GE(number(row[channel + 2]), -0.001);
                EXPECT_LT(std::fabs(number(row[channel + 5])), 1e-4);
            }
            EXPECT_EQ(row[8], "0");
            EXPECT_EQ(row[11], "0");
            EXPECT_EQ(row[12], "-inf");
            EXPECT_EQ(row[13], "-inf");
        }
    }
}

TEST(Analyzer, ReportOpensWithRunHeaderDumpsAndSettings)
{
    RunResult run = runAnalyzerOn(defaultSweep(), {});
    const std::string expected =
        "executable:\travan\n arguments:\t1\n file name:\trec.wav\n"
        "   chunkID:\tRIFF\n chunkSize:\t17816436\n    format:\tWAVE\n"
        "   chunkID:\tfmt \n chunkSize:\t16\n   fmtCode:\t1\n   numChan:\t2\n  sampRate:\t44100\n"
        "  byteRate:\t176400\nblockAlign:\t4\n  bitsSamp:\t16\n   chunkID:\tdata\n chunkSize:\t17816400\n"
        "      mode:\tfreq sweep\nstart freq:\t100\n  end freq:\t10000\n num steps:\t201\n averaging:\t1\n"
        "     delay:\t22050\n  interval:\t22050\n"
        "numCyc\tduration\tnomFreq\tactFreq\tabs 1\tabs 2\tdB 1\tdB 2\tdB diff\tphase 1\tphase 2\tphase diff"
        "\tbkg 1\tbkg 2\n"
        "1\t441\t100\t100\t0.999954\t0.999954\t-0.000396235\t-0.000396235\t0\t";
    EXPECT_EQ(run.report.substr(0, expected.size()), expected);
}

TEST(Analyzer, LaterArrivalReadsLargerPhase)
{
    std::string late = defaultSweep();
    late.insert(44, std::string(12, '\0'));  // both channels 3 frames late
    auto rows = reportRows(runAnalyzerOn(late, {}).report);
    BurstSchedule schedule;
    EXPECT_NEAR(number(rows[0][9]), 3 * schedule.omega, 1e-4);
    EXPECT_NEAR(number(rows[0][9]), 0.0427, 1e-4);
    EXPECT_EQ(rows[0][11], "0");
}

TEST(Analyzer, SilentChannelsGiveInfiniteAndUndefinedLevels)
{
    auto oneSilent = reportRows(runAnalyzerOn(silenceChannel(defaultSweep(), 1), {}).report);
    for (const auto& row : oneSilent) {
        EXPECT_EQ(row[5], "0");
        EXPECT_EQ(row[7], "-inf");
        EXPECT_EQ(row[8], "inf");
        EXPECT_EQ(row[10], "0");
        EXPECT_EQ(row[11], row[9]);
    }
    auto bothSilent = reportRows(runAnalyzerOn(silenceChannel(silenceChannel(defaultSweep(), 0), 1), {}).report);
    const std::vector<std::string> silentValues{"0", "0", "-inf", "-inf", "nan", "0", "0", "0", "-inf", "-inf"};
    for (const auto& row : bothSilent)
        EXPECT_EQ(std::vector<std::string>(row.begin() + 4, row.end()), silentValues);
}

TEST(Analyzer, AveragingTwoIdenticalRepetitionsReadsLikeOne)
{
    auto one = reportRows(runAnalyzerOn(defaultSweep(), {}).report);
    auto two = reportRows(runAnalyzerOn(generatedFile({"22050", "2"}), {"22050", "2"}).report);
    ASSERT_EQ(two.size(), one.size());
    // Sums of two repetitions round differently from one; phases that are
    // zero only up to rounding may differ in their tiny digits.
    for (std::size_t i = 0; i < one.size(); ++i) {
        for (int column = 4; column < 12; ++column)
            EXPECT_NEAR(number(two[i][column]), number(one[i][column]), 1e-9) << i << " " << column;
        EXPECT_EQ(two[i][12], one[i][12]);
        EXPECT_EQ(two[i][13], one[i][13]);
    }
}

TEST(Analyzer, NoRepetitionsPrintsNotANumberEverywhere)
{
    RunResult run = runAnalyzerOn(generatedFile({"100", "0"}), {"100", "0"});
    EXPECT_EQ(run.code, 0);
    auto rows = reportRows(run.report);
    ASSERT_EQ(rows.size(), 201u);
    for (const auto& row : rows)
        EXPECT_EQ(std::vector<std::string>(row.begin() + 4, row.end()), std::vector<std::string>(10, "nan"));
}

namespace {

// A numAvg 2 sweep from 2000 Hz after a lead-in of 1000 frames, cut at
// `length` bytes (-1: whole, with 1000 bytes more after it).
const std::vector<std::string> endingArgs{"1000", "2", "2000"};
constexpr std::int64_t endingStep = 2 * 22050 * 4;
constexpr std::int64_t endingLeadIn = 44 + 4 * 1000;

struct Ending {
    const char* what;
    std::int64_t length;
    int rows;
};

void PrintTo(const Ending& c, std::ostream* out)
{
    *out << c.what;
}

class AnalyzerEnding : public ::testing::TestWithParam<Ending> {};

} // namespace

TEST_P(AnalyzerEnding, MatchesSampleBySampleReading)
{
    const Ending& c = GetParam();
    const std::string& full = generatedFile(endingArgs);
    std::string file = c.length < 0 ? full + std::string(1000, '\x7F') : full.substr(0, static_cast<std::size_t>(c.length));
    // Give the cut frames values that the held samples would reveal.
    if (c.length > 44 && (c.length - 44) % 4 != 0)
        file[static_cast<std::size_t>(c.length - 1)] = '\x35';
    RunResult run = runAnalyzerOn(file, endingArgs);
    std::string errors;
    std::string expectedRows = naiveRows(file, scheduleFor(endingArgs), errors);
    EXPECT_EQ(rowsOf(run.report), expectedRows);
    EXPECT_EQ(run.errors, errors);
    EXPECT_EQ(run.code, errors.empty() ? 0 : -4);
    EXPECT_EQ(reportRows(run.report).size(), static_cast<std::size_t>(c.rows));
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, AnalyzerEnding,
    ::testing::Values(Ending{"inside the lead-in", 44 + 2000, 0}, Ending{"at the end of the lead-in", endingLeadIn, 1},
                      Ending{"inside step 2", endingLeadIn + endingStep + 5000, 2},
                      Ending{"at the end of step 2", endingLeadIn + 2 * endingStep, 3},
                      Ending{"one byte into step 3", endingLeadIn + 2 * endingStep + 1, 3},
                      Ending{"two bytes into step 3", endingLeadIn + 2 * endingStep + 2, 3},
                      Ending{"three bytes into step 3", endingLeadIn + 2 * endingStep + 3, 3},
                      Ending{"inside a burst of step 4", endingLeadIn + 3 * endingStep + 4 * 50 + 1, 4},
                      Ending{"inside the last step", endingLeadIn + 200 * endingStep + 7, 201},
                      Ending{"at the end of the last step", endingLeadIn + 201 * endingStep, 201},
                      Ending{"longer than the schedule", -1, 201}));

TEST(Analyzer, SilentFramesAmongNoiseReadAsSampleBySample)
{
    // Frames whose two samples are zero are passed over without their
    // phasor; frames where only one channel is zero are not. Noise of both
    // signs around stretches of each kind, on a polar run and a numAvg 2
    // sweep, must read exactly as sample-by-sample reading does.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"0", "1", "2000", "polar"}, std::vector<std::string>{"500", "2", "4000"}}) {
        std::string file = generatedFile(args);
        std::uint32_t noise = 12345;
        for (std::size_t frame = 0; 44 + 4 * frame + 3 < file.size(); ++frame) {
            noise = noise * 1664525u + 1013904223u;
            int kind = static_cast<int>((frame / 37) % 4);   // both silent, 1 silent, 2 silent, noisy
            for (int channel = 0; channel < 2; ++channel) {
                std::size_t at = 44 + 4 * frame + 2 * static_cast<std::size_t>(channel);
                int value = kind == 0 || kind == channel + 1 ? 0 : static_cast<int>(noise >> (28 - 4 * channel) & 15) - 7;
                int sample = kind == 3 ? sampleAt(file, static_cast<std::int64_t>(frame), channel) + value : value;
                file[at] = static_cast<char>(sample & 0xFF);
                file[at + 1] = static_cast<char>((sample >> 8) & 0xFF);
            }
        }
        std::string errors;
        EXPECT_EQ(rowsOf(runAnalyzerOn(file, args).report), naiveRows(file, scheduleFor(args), errors)) << args.size();
    }
}

TEST(Analyzer, RecordingThatEndsAtAStepReadsTheNextStepAsSilence)
{
    const std::vector<std::string> args{"0"};
    std::string file = defaultSweep().substr(0, 44 + 22050 * 4 + 4 * 22050);
    RunResult run = runAnalyzerOn(file, args);
    auto rows = reportRows(run.report);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(rows[2].begin() + 4, rows[2].end()),
              (std::vector<std::string>{"0", "0", "-inf", "-inf", "nan", "0", "0", "0", "-inf", "-inf"}));
    EXPECT_EQ(run.code, -4);
}

TEST(Analyzer, ShortFilesStopWithTheirMessages)
{
    RunResult tiny = runAnalyzerOn(defaultSweep().substr(0, 43), {});
    EXPECT_EQ(tiny.code, -3);
    EXPECT_EQ(tiny.report, "");
    EXPECT_EQ(tiny.errors, "Failed to read header info from disk.\n");

    RunResult headerOnly = runAnalyzerOn(defaultSweep().substr(0, 44), {});
    EXPECT_EQ(headerOnly.code, -4);
    EXPECT_EQ(headerOnly.errors, "Failed to read tone bursts from disk.\n");
    EXPECT_EQ(reportRows(headerOnly.report).size(), 0u);
    EXPECT_NE(headerOnly.report.find("interval:\t22050\nnumCyc"), std::string::npos);

    RunResult headerOnlyNoDelay = runAnalyzerOn(defaultSweep().substr(0, 44), {"0"});
    EXPECT_EQ(headerOnlyNoDelay.code, -4);
    EXPECT_EQ(reportRows(headerOnlyNoDelay.report).size(), 1u);

    RunResult farDelay = runAnalyzerOn(defaultSweep().substr(0, 4000), {"1000000000"});
    EXPECT_EQ(farDelay.code, -4);
}

TEST(Analyzer, ForeignHeadersAreDumpedWarnedAboutAndReadFromByte44)
{
    const std::string warning =
        "Warning: the header does not describe 16-bit stereo PCM at 44100 Hz; the samples are read as such "
        "from byte 44.\n";
    struct Case {
        const char* what;
        std::size_t offset;
        std::string bytes;
        const char* dumped;
    } cases[] = {
        {"one channel", 22, std::string("\x01\x00", 2), "   numChan:\t1\n"},
        {"8-bit samples", 34, std::string("\x08\x00", 2), "  bitsSamp:\t8\n"},
        {"fmtCode 65534, 40-byte chunk", 16, std::string("\x28\0\0\0\xFE\xFF", 6), "   fmtCode:\t-2\n"},
        {"zero byte in a code", 37, std::string("\0", 1), "   chunkID:\td\n"},
    };
    RunResult plain = runAnalyzerOn(defaultSweep(), {});
    for (const Case& c : cases) {
        std::string file = defaultSweep();
        file.replace(c.offset, c.bytes.size(), c.bytes);
        RunResult run = runAnalyzerOn(file, {});
        EXPECT_EQ(run.code, 0) << c.what;
        EXPECT_EQ(run.errors, warning) << c.what;
        EXPECT_NE(run.report.find(c.dumped), std::string::npos) << c.what;
        EXPECT_EQ(rowsOf(run.report), rowsOf(plain.report)) << c.what;
    }
    EXPECT_EQ(plain.errors, "");
}

TEST(Analyzer, HeldSamplesAfterAPartialFrameFeedTheWholeStep)
{
    // Data end one byte into step 1: channel 1 holds that byte as its low
    // byte for every frame of the step, channel 2 stays 0.
    std::string file = defaultSweep().substr(0, 44 + 4 * 22050) + "\x05";
    auto rows = reportRows(runAnalyzerOn(file, {}).report);
    ASSERT_EQ(rows.size(), 1u);
    BurstSchedule schedule;
    std::complex<double> sum;
    for (int n = 0; n < 441; ++n)
        sum += std::complex<double>(5 * std::cos(schedule.omega * n), 5 * std::sin(schedule.omega * n));
    char text[realTextSize];
    formatReal(std::abs(sum / (441 * analyzerScale)), text);
    EXPECT_EQ(rows[0][4], text);
    EXPECT_EQ(rows[0][5], "0");
}

TEST(Analyzer, BurstsBeyondTheIntervalAreScaledWithoutOverflow)
{
    // At 0.001 Hz a burst is 44100000 frames, cut at the interval; with 242
    // repetitions the scale's integer product exceeds 32 bits.
    std::string file = defaultSweep().substr(0, 44 + 4 * 22050 * 3);
    RunResult run = runAnalyzerOn(file, {"0", "242", "0.001"});
    EXPECT_EQ(run.code, -4);
    auto rows = reportRows(run.report);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][1], "44100000");
    EXPECT_EQ(rows[0][12], "-inf");  // the background window is empty
    EXPECT_NE(rows[0][4], "nan");
}

namespace {

// Delivers `bytes`, then fails the next read as a disk error would: the
// stream becomes bad without reaching its end.
class FailingBuffer : public std::streambuf {
public:
    explicit FailingBuffer(std::string bytes) : data(std::move(bytes))
    {
        setg(data.data(), data.data(), data.data() + data.size());
    }

protected:
    int_type underflow() override { throw std::ios_base::failure("read error"); }

private:
    std::string data;
};

RunResult analyzeFailingAfter(std::size_t bytes, const std::vector<std::string>& args)
{
    FailingBuffer buffer(defaultSweep().substr(0, bytes));
    std::istream in(&buffer);
    return runAnalyzerOnStream(in, args);
}

} // namespace

// A stream that cannot seek, as a pipe: every frame is read.
class ForwardOnlyBuffer : public std::streambuf {
public:
    explicit ForwardOnlyBuffer(const std::string& bytes) : data(bytes)
    {
        setg(data.data(), data.data(), data.data() + data.size());
    }

private:
    std::string data;
};

namespace {

using Args = std::vector<std::string>;

struct SeekCase {
    const char* what;
    Args args;
    std::int64_t length;   // of the default sweep, or -1 for the whole file of `args`
};

void PrintTo(const SeekCase& c, std::ostream* out)
{
    *out << c.what;
}

class AnalyzerSeeking : public ::testing::TestWithParam<SeekCase> {};

constexpr std::int64_t sweepLeadIn = 44 + 4 * 22050;

} // namespace

// Whole runs read as sample-by-sample reading works them out: phasors kept
// for a polar run's steps and for a step's repetitions, and silent frames
// passed over, change nothing; cut anywhere, a file read by seeking past
// unused frames reads as it does through a pipe.
TEST_P(AnalyzerSeeking, ReadsLikeAPipe)
{
    const SeekCase& c = GetParam();
    const std::string file =
        c.length < 0 ? generatedFile(c.args) : defaultSweep().substr(0, static_cast<std::size_t>(c.length));
    RunResult seeking = runAnalyzerOn(file, c.args);
    if (c.length < 0) {
        std::string naiveErrors;
        EXPECT_EQ(rowsOf(seeking.report), naiveRows(file, scheduleFor(c.args), naiveErrors));
    }
    ForwardOnlyBuffer buffer(file);
    std::istream pipe(&buffer);
    RunResult reading = runAnalyzerOnStream(pipe, c.args);
    EXPECT_EQ(seeking.code, reading.code);
    EXPECT_EQ(seeking.errors, reading.errors);
    EXPECT_EQ(rowsOf(seeking.report), rowsOf(reading.report));
    EXPECT_FALSE(rowsOf(reading.report).empty() && c.length < 0);
}

INSTANTIATE_TEST_SUITE_P(
    Files, AnalyzerSeeking,
    ::testing::Values(SeekCase{"default sweep", {}, -1}, SeekCase{"polar run", {"0", "1", "2000", "polar"}, -1},
                      SeekCase{"falling sweep", {"100", "1", "20000"}, -1},
                      SeekCase{"numAvg 2", {"22050", "2"}, -1},
                      SeekCase{"cut inside the lead-in, which is passed over", {}, sweepLeadIn - 5},
                      SeekCase{"cut between windows, a frame cut short", {}, sweepLeadIn + 4 * 22050 * 3 + 4 * 5000 + 3},
                      SeekCase{"cut inside a background window", {}, sweepLeadIn + 4 * 22050 * 3 + 4 * 21000},
                      SeekCase{"cut one frame before a step ends", {}, sweepLeadIn + 4 * 22050 * 4 - 4},
                      SeekCase{"cut just into the next burst", {}, sweepLeadIn + 4 * 22050 * 4 + 6}));

TEST(Analyzer, ReadErrorsEndTheRunLikeTheEndOfTheData)
{
    RunResult inHeader = analyzeFailingAfter(20, {});
    EXPECT_EQ(inHeader.code, -3);
    EXPECT_EQ(inHeader.errors, "Failed to read header info from disk.\n");
    EXPECT_EQ(inHeader.report, "");

    RunResult inStep = analyzeFailingAfter(44 + 4 * (22050 + 22050 + 100), {});
    EXPECT_EQ(inStep.code, -4);
    EXPECT_EQ(inStep.errors, "Failed to read tone bursts from disk.\n");
    EXPECT_EQ(reportRows(inStep.report).size(), 2u);
}

TEST(AnalyzerProcess, OpenFailureAndStatuses)
{
    TempDir dir;
    RunResult missing = runProcess(ravanPath, {dir.file("none.wav")});
    EXPECT_EQ(missing.code, 254);
    EXPECT_EQ(missing.report, "");
    EXPECT_EQ(missing.errors, "Failed to open input file: " + dir.file("none.wav") + "\n");
    EXPECT_EQ(runProcess(ravanPath, {}).code, 255);
    EXPECT_EQ(runProcess(ravanPath, {dir.file("none.wav"), "0", "0", "-5"}).code, 255);
    writeFile(dir.file("short.wav"), "RIFF");
    EXPECT_EQ(runProcess(ravanPath, {dir.file("short.wav")}).code, 253);
    RunResult directory = runProcess(ravanPath, {dir.path});
    EXPECT_EQ(directory.code, 253);
    EXPECT_EQ(directory.errors, "Failed to read header info from disk.\n");
    writeFile(dir.file("sweep.wav"), defaultSweep());
    RunResult run = runProcess(ravanPath, {dir.file("sweep.wav")});
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(rowsOf(run.report), rowsOf(runAnalyzerOn(defaultSweep(), {}).report));
}
