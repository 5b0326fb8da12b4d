// Number text: any text is parsed without harm, and a number parsed, formatted and parsed
// again is the number formatted (15 significant digits).
#include "app/numbertext.h"
#include "fuzzkit.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(fuzzkit::bytes(data, size));
    (void)numtext::leadingNumber(text);
    (void)numtext::parseWhole(text);
    (void)numtext::parseZeroPrefixed(text);
    if (const auto v = numtext::parse(text)) {
        const QString shown = numtext::format(*v);
        const auto back = numtext::parse(shown);
        FUZZ_CHECK(back.has_value());
        FUZZ_CHECK(numtext::format(*back) == shown);
    }
    return 0;
}
