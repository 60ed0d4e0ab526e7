// Correctly rounded conversions between doubles and decimal text: the shortest digits that read back to the
// same double, the layout the rest of the program prints doubles in, and a text-to-double parser that rounds
// to nearest (ties to even). No state is kept: any thread may convert at any time.
#ifndef BASE_STRINGS_DTOA_H_
#define BASE_STRINGS_DTOA_H_

namespace base {
namespace fp {

// The decimal-point position reported for Infinity and NaN.
constexpr int kNonFiniteDecimalPoint = 9999;

// The longest text g_fmt writes is 24 characters; a buffer of this size always holds it and its NUL.
constexpr int kGFmtBufferSize = 32;

// Decimal digits of |value| without trailing zeros, value = 0.d1d2...dn x 10^(*decimal_point). Mode 0 (the
// only mode built) gives the shortest digit string that reads back to the same double and ignores
// `digit_count`; the fixed-length modes 1-5 are not built and fail a check. *sign is 1 when the sign bit is
// set (also for -0 and negative NaN). Zero gives "0" at position 1; Infinity and NaN give "Infinity" or "NaN"
// at kNonFiniteDecimalPoint. *digits_end (when not null) gets the position of the terminating NUL. The result
// is given back with freedtoa.
char* dtoa(double value, int mode, int digit_count, int* decimal_point, int* sign, char** digits_end);
void freedtoa(char* digits);

// Parses optional leading whitespace (tab, LF, VT, FF, CR, space), an optional sign, then digits with an
// optional '.' and an optional exponent ('e' or 'E', optional sign, digits); or "inf", "infinity" or "nan"
// in any letter case, "nan" optionally followed by "(hex digits)". Hexadecimal numbers are not read ("0x10"
// stops after the '0'); an 'e' without exponent digits ends the number before the 'e'. The result is
// correctly rounded to nearest. Overflow gives +-infinity and underflow to zero gives +-0, both with errno
// set to ERANGE; errno is not touched otherwise. When no number is found the result is 0 and *end (when not
// null) is `text`; otherwise *end is just past the number.
double strtod(const char* text, char** end);

// Writes the shortest text that reads back to `value` into `buffer` (at least kGFmtBufferSize bytes) and
// returns `buffer`. Layout: '-' when the sign bit is set ("-0"); "Infinity" or "NaN"; else with the shortest
// digits d1..dn and point position p: exponential "d1.d2...dne+XX" (at least two exponent digits) when
// p <= -4 or p > n + 5, ".000ddd" without a leading 0 when p <= 0, else the digits with the point after the
// p-th one and trailing zeros as needed ("1e+21", "1e-05", ".0001", "100000", "123.25", "-.25").
char* g_fmt(char* buffer, double value);

}  // namespace fp
}  // namespace base

#endif  // BASE_STRINGS_DTOA_H_
