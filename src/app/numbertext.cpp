#include "app/numbertext.h"

#include <QLocale>
#include <cmath>

namespace numtext {
namespace {

struct UserLocale {
    QLocale locale;
    // Digits 0-9 and "-" as the C locale writes them: whole numbers then need no locale.
    bool plainDigits = true;
};

// The default locale follows the user's regional settings. Made once per change of the
// default: long playlists convert tens of thousands of numbers at a time.
const UserLocale& userLocale()
{
    thread_local QLocale base(QLocale::c());
    thread_local UserLocale ours = [] {
        UserLocale l{QLocale::c()};
        l.locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
        return l;
    }();
    const QLocale now;
    if (now != base) {
        base = now;
        ours.locale = now;
        ours.locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
        ours.plainDigits = now.zeroDigit() == QLatin1String("0") && now.negativeSign() == QLatin1String("-");
    }
    return ours;
}

// Whole numbers of up to 15 digits are written and read exactly as the locale would,
// without its general conversion (a 100,000-entry list holds half a million of them).
constexpr double kPlainLimit = 1e15;

std::optional<double> plainWhole(QStringView text)
{
    if (text.isEmpty() || text.size() > 15) return std::nullopt;
    qint64 n = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9') return std::nullopt;
        n = n * 10 + (c.unicode() - u'0');
    }
    return double(n);
}

} // namespace

QString format(double value)
{
    if (std::isnan(value)) return QStringLiteral("0");
    if (value == 0.0) return QStringLiteral("0");  // also folds -0
    const UserLocale& user = userLocale();
    if (user.plainDigits && std::abs(value) < kPlainLimit && value == std::trunc(value))
        return QString::number(qint64(value));
    QString text = user.locale.toString(value, 'G', 15);
    // Qt writes exponents as E+20 / E-05; a plain "E+20" is what readers expect too.
    return text;
}

QString formatInt(qint64 value)
{
    return QString::number(value);
}

std::optional<double> parse(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty()) return std::nullopt;
    const UserLocale& user = userLocale();
    if (user.plainDigits)
        if (const auto whole = plainWhole(t)) return whole;
    bool ok = false;
    const double v = user.locale.toDouble(t, &ok);
    if (!ok || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<double> parseZeroPrefixed(const QString& text)
{
    // Leading blanks would break the "0" prefix the same way a sign does.
    if (!text.isEmpty() && text.front().isSpace()) return std::nullopt;
    if (userLocale().plainDigits)
        if (const auto whole = plainWhole(text)) return whole;
    return parse(QStringLiteral("0") + text);
}

std::optional<qint32> parseWhole(const QString& text)
{
    const auto v = parse(text);
    if (!v) return std::nullopt;
    const double r = std::nearbyint(*v);
    if (r < -2147483648.0 || r > 2147483647.0) return std::nullopt;
    return static_cast<qint32>(r);
}

double leadingNumber(const QString& text)
{
    const QLocale& loc = userLocale().locale;
    const QChar dec = loc.decimalPoint().isEmpty() ? QChar('.') : loc.decimalPoint().front();
    int i = 0;
    const int n = text.size();
    while (i < n && text[i].isSpace()) ++i;
    QString digits;
    if (i < n && (text[i] == '-' || text[i] == '+')) digits += text[i++];
    bool seenDigit = false, seenDot = false;
    for (; i < n; ++i) {
        const QChar c = text[i];
        if (c.isDigit()) { digits += c; seenDigit = true; }
        else if ((c == dec || c == '.') && !seenDot) { digits += '.'; seenDot = true; }
        else break;
    }
    if (!seenDigit) return 0.0;
    bool ok = false;
    const double v = QLocale::c().toDouble(digits, &ok);
    return ok && std::isfinite(v) ? v : 0.0;
}

} // namespace numtext
