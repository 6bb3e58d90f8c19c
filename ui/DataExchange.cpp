#include "DataExchange.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

std::string_view trimBlanks(std::string_view text) {
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

} // namespace

std::optional<int32_t> parseInteger(std::string_view text) {
    text = trimBlanks(text);
    if (text.size() > 1 && text.front() == '+' && text[1] != '-')
        text.remove_prefix(1);
    int32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<double> parseNumber(std::string_view text) {
    std::string trimmed(trimBlanks(text));
    if (trimmed.empty())
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(trimmed.c_str(), &end);
    if (end != trimmed.c_str() + trimmed.size() || errno == ERANGE || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string formatInteger(int32_t value) {
    return std::to_string(value);
}

std::string formatNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}
