#pragma once

#include <string>

/// True when both paths name one existing file: writing the one would then
/// destroy the other before it is read.
bool sameFile(const std::string& a, const std::string& b);
