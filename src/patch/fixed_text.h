#pragma once

#include <cstddef>
#include <cstdint>

// Sentences that state a rule's numbers are built at compile time from the
// constants of rules.h, so that no number is typed twice. Used as constexpr
// variables only: a %d without its number then stops the build.

template <std::size_t N>
struct fixed_text {
    char text[N];
};

template <std::size_t N>
constexpr std::size_t put_decimal(fixed_text<N> &out, std::size_t at, int32_t value)
{
    if (value < 0) {
        out.text[at++] = '-';
        value = -value;
    }
    char digits[10] = {};
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0)
        out.text[at++] = digits[--count];
    return at;
}

// Room for any 32-bit number in decimal, sign included.
constexpr std::size_t DECIMAL_ROOM = 11;

// `format` with each %d replaced by the next of `numbers`.
template <std::size_t F, typename... Numbers>
constexpr auto with_numbers(const char (&format)[F], Numbers... numbers)
{
    const int32_t values[] = {static_cast<int32_t>(numbers)...};
    fixed_text<F + DECIMAL_ROOM * sizeof...(Numbers)> out{};
    std::size_t at = 0;
    std::size_t next = 0;
    for (const char *p = format; *p != '\0'; ++p) {
        if (p[0] == '%' && p[1] == 'd') {
            at = put_decimal(out, at, values[next++]);
            ++p;
        } else {
            out.text[at++] = *p;
        }
    }
    out.text[at] = '\0';
    // A number left over reads past the end of `values`: no build.
    (void)values[next == sizeof...(numbers) ? 0 : sizeof...(numbers)];
    return out;
}
