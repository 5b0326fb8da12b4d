#pragma once
// The one place where numbers become text and text becomes numbers. Numbers live as
// text in the grid, the INI files and the settings store, in the user's locale.
#include <QString>
#include <optional>

namespace numtext {

// General number form: at most 15 significant digits, no grouping, no trailing zeros,
// the locale's decimal separator; exponent form only for extreme magnitudes.
QString format(double value);

// Whole decimal text of an integer (counts, key numbers).
QString formatInt(qint64 value);

// Strict: the whole text (blanks around it allowed) must be one decimal number.
std::optional<double> parse(const QString& text);

// The text read as if written "0" + text: empty is 0, ".5" is 0.5, "-5" fails.
std::optional<double> parseZeroPrefixed(const QString& text);

// Whole number of a text, for counts; fails on anything but an integer within 32 bits
// (a decimal is rounded as a count would be).
std::optional<qint32> parseWhole(const QString& text);

// Lenient: the number at the start of the text, 0 when there is none ("2.5abc" is 2.5).
double leadingNumber(const QString& text);

// Assigns when the conversion succeeds; leaves the target as it was otherwise.
inline bool assignIfParsed(const std::optional<double>& v, double& target)
{
    if (!v) return false;
    target = *v;
    return true;
}

} // namespace numtext
