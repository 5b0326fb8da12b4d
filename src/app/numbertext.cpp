#include "app/numbertext.h"

#include <QLocale>
#include <cmath>

namespace numtext {
namespace {

// The default locale follows the user's regional settings. Made once per change of the
// default: long playlists convert tens of thousands of numbers at a time.
const QLocale& userLocale()
{
    thread_local QLocale base(QLocale::c());
    thread_local QLocale ours = [] {
        QLocale l(QLocale::c());
        l.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
        return l;
    }();
    const QLocale now;
    if (now != base) {
        base = now;
        ours = now;
        ours.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    }
    return ours;
}

} // namespace

QString format(double value)
{
    if (std::isnan(value)) return QStringLiteral("0");
    if (value == 0.0) return QStringLiteral("0");  // also folds -0
    QString text = userLocale().toString(value, 'G', 15);
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
    bool ok = false;
    const double v = userLocale().toDouble(t, &ok);
    if (!ok || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<double> parseZeroPrefixed(const QString& text)
{
    // Leading blanks would break the "0" prefix the same way a sign does.
    if (!text.isEmpty() && text.front().isSpace()) return std::nullopt;
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
    const QLocale& loc = userLocale();
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
