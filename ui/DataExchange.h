#pragma once

// Moving numbers between dialog text fields and values: the parsing and
// formatting rules every dialog shares, and the messages for bad entries.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

constexpr const char* kEnterIntegerText = "Enter an integer.";
constexpr const char* kEnterNumberText = "Enter a number.";

// A whole number in the 32-bit range; blanks around it are allowed.
std::optional<int32_t> parseInteger(std::string_view text);
// A finite decimal number; blanks around it are allowed.
std::optional<double> parseNumber(std::string_view text);
std::string formatInteger(int32_t value);
// Up to 15 significant digits, without trailing zeros.
std::string formatNumber(double value);
