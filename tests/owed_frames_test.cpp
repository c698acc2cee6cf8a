// The process cycle's bookkeeping over a stall, on the rings alone (no
// server): frames the stimulus and the recording owe are paid as the rings
// allow, however long the stall, and a run of lost frames takes one note.
#include "audio/jack_session.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Rings of 4096 bytes hold 1023 frames: stalls here outlast them.
constexpr std::size_t ringBytes = 4096;

void play(JackSession& session, std::size_t frames)
{
    std::vector<float> ones(frames, 1.0f);
    session.pushPlayback(ones.data(), ones.data(), frames);
}

// Takes what the capture rings hold, as the writer does; returns it.
std::vector<float> drain(JackSession& session)
{
    std::vector<float> left(session.captureReady()), right(left.size());
    session.takeCapture(left.data(), right.data(), left.size());
    return left;
}

} // namespace

TEST(OwedFrames, AStallLongerThanTheRingsIsPaidAsTheyAllow)
{
    JackSession session;
    ASSERT_TRUE(session.makeRings(ringBytes));
    play(session, 1000);
    session.skipLost(3000);  // three times what the rings hold
    session.settleOwed();
    EXPECT_EQ(session.played, 1000);
    EXPECT_EQ(session.owedPlay, 2000);
    std::size_t silent = 0;
    for (int round = 0; round < 4 && (session.owedPlay > 0 || session.owedSilence > 0); ++round) {
        for (float x : drain(session)) {
            EXPECT_EQ(x, 0.0f);
            ++silent;
        }
        play(session, session.playbackSpace());
        session.settleOwed();
    }
    silent += drain(session).size();
    EXPECT_EQ(session.owedPlay, 0);
    EXPECT_EQ(session.owedSilence, 0);
    EXPECT_EQ(session.played, 3000);  // frame k of the stimulus is frame k of the recording again
    EXPECT_EQ(silent, 3000u);
    session.publishLoss();
    ASSERT_EQ(session.lostCount, 1);
    EXPECT_EQ(session.lost[0].at, 0);
    EXPECT_EQ(session.lost[0].frames, 3000);
}

TEST(OwedFrames, NotesJoinWhereLossesFollowEachOther)
{
    const struct {
        std::vector<std::pair<std::int64_t, std::int64_t>> losses;  // at, frames
        std::vector<std::pair<std::int64_t, std::int64_t>> notes;
    } cases[] = {
        {{{0, 256}, {256, 256}, {512, 256}}, {{0, 768}}},
        {{{0, 256}, {1000, 256}}, {{0, 256}, {1000, 256}}},
        {{{0, 256}, {256, 0}, {256, 256}}, {{0, 256}, {256, 0}, {256, 256}}},  // a late cycle stands alone
    };
    for (const auto& c : cases) {
        JackSession session;
        for (const auto& [at, frames] : c.losses)
            session.noteLost(at, frames);
        session.publishLoss();
        ASSERT_EQ(session.lostCount, int(c.notes.size()));
        for (std::size_t i = 0; i < c.notes.size(); ++i) {
            EXPECT_EQ(session.lost[i].at, c.notes[i].first);
            EXPECT_EQ(session.lost[i].frames, c.notes[i].second);
        }
    }
}

TEST(OwedFrames, WhatIsOwedPastTheStimulusComesOffTheTail)
{
    JackSession session;
    ASSERT_TRUE(session.makeRings(ringBytes));
    play(session, 100);
    session.stimulusEnded = true;
    session.tailLeft = 1000;
    session.skipLost(600);
    session.settleOwed();
    EXPECT_EQ(session.played, 100);
    EXPECT_EQ(session.owedPlay, 0);
    EXPECT_EQ(session.tailLeft, 500);
}

// The server's frame clock is 32 bits and wraps; a gap is read across the
// wrap, and a clock that went back reads negative, never as hours owed.
TEST(OwedFrames, TheFrameClockGapIsSignedAcrossItsWrap)
{
    const struct {
        std::uint32_t now, last, frames;
        std::int64_t gap;
    } cases[] = {
        {1256, 1000, 256, 0},
        {2024, 1000, 256, 768},
        {255, 4294967040u, 256, 255},   // across the wrap
        {1000, 1000, 256, -256},        // the clock stood still
        {999, 1000, 256, -257},         // it went back
    };
    for (const auto& c : cases)
        EXPECT_EQ(frameClockGap(c.now, c.last, c.frames), c.gap) << c.now << " after " << c.last;
}

// A loaded machine's client may read the server's frame time a cycle
// early or late: the clock then stands still or steps back a little, which
// is no loss; further back, the frames lost cannot be counted.
TEST(OwedFrames, OnlyAClockFarBackBreaksTheCount)
{
    const struct {
        std::int64_t gap;
        bool back;
    } cases[] = {{0, false}, {768, false}, {-256, false}, {-4096, false}, {-4097, true}, {-44100, true}};
    for (const auto& c : cases)
        EXPECT_EQ(frameClockWentBack(c.gap, 256), c.back) << c.gap;
}
