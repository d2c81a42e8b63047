#pragma once
// Reading plain text as numbers, a reader per rule, and the nearest-rank
// percentile. Nothing here follows the user's locale.

#include <charconv>
#include <concepts>
#include <cstddef>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

namespace rio::protocol {

// Decimal digits only, within T: "250" but not "+1", " 7" or "5ms" ("-0"
// reads as 0 for a signed T). What the simulator's command line and
// behaviours and a board test plan hold.
template <std::integral T> [[nodiscard]] std::optional<T> digitsNumber(std::string_view text) {
    T value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end || value < 0)
        return std::nullopt;
    return value;
}

// A sign ('+' or '-') or none, then decimal digits, within T: "-12", "+7",
// "0300"; not " 7" or "1.5". What the panel's port and speed boxes hold once
// the blanks around their text are trimmed.
template <std::integral T> [[nodiscard]] std::optional<T> signedNumber(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return std::nullopt;
    long long magnitude = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, magnitude);
    if (ec != std::errc{} || ptr != end)
        return std::nullopt;
    const long long value = negative ? -magnitude : magnitude;
    if (!std::in_range<T>(value))
        return std::nullopt;
    return static_cast<T>(value);
}

// The index, among n > 0 values in ascending order, of the nearest-rank
// percentile: the ceil(n x percent / 100)-th smallest. The median (50) is the
// ceil(n/2)-th, always one of the values themselves.
[[nodiscard]] constexpr std::size_t nearestRankIndex(std::size_t n, std::size_t percent) {
    const std::size_t rank = (n * percent + 99) / 100;
    return (rank > 1 ? rank : 1) - 1;
}

} // namespace rio::protocol
