#pragma once

/// The player's sample rate, frames per second: every generated file's.
constexpr double sampleRate = 44100.0;

constexpr double pi = 3.14159265358979323846;
/// One turn, radians.
constexpr double turn = 2 * pi;
