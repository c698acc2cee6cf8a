#pragma once

/// The player's sample rate, frames per second: every generated file's.
constexpr double sampleRate = 44100.0;

/// The 16-bit scale: a sample of level x (full scale 1) is the code
/// 32768 x, so the readers scale every format to these units.
constexpr double sampleScale16 = 32768.0;
/// The largest and the smallest 16-bit codes.
constexpr int largestCode16 = 32767;
constexpr int smallestCode16 = -32768;

constexpr double pi = 3.14159265358979323846;
/// One turn, radians.
constexpr double turn = 2 * pi;
