// The practice keys' texts (four lines: pause, count-in, trainer, pitch): any text is read
// strictly, and the settings read write texts that read back as the same settings.
#include "fuzzkit.h"
#include "storage/practicekeys.h"

#include <QStringList>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QStringList lines = QString::fromUtf8(fuzzkit::bytes(data, size)).split(u'\n');
    const storage::PracticeTexts texts{lines.value(0), lines.value(1), lines.value(2), lines.value(3)};
    int refused = 0;
    const PracticeSettings settings = storage::practiceOf(texts, &refused);
    FUZZ_CHECK(refused >= 0 && refused <= 4);
    FUZZ_CHECK(storage::practiceProblem(settings).isEmpty());
    const storage::PracticeTexts written = storage::practiceTexts(settings);
    int again = 0;
    FUZZ_CHECK(storage::practiceTexts(storage::practiceOf(written, &again)) == written);
    FUZZ_CHECK(again == 0);
    return 0;
}
