#include "support/waits.h"

#include "engine/mpv/mpvengine.h"
#include "support/testkit.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace testkit {

// Only a loop that never turns ends these waits: they decide nothing by their length.
constexpr int kSafetyNetMs = 30000;

bool runQueued()
{
    // Shared: the marker may run after a failed wait has returned.
    auto reached = std::make_shared<bool>(false);
    QTimer::singleShot(0, QCoreApplication::instance(), [reached] { *reached = true; });
    return QTest::qWaitFor([reached] { return *reached; }, kSafetyNetMs);
}

namespace {
QString paceFile()
{
    static QTemporaryDir dir;
    static const QString file = writeWav(dir.filePath("pace.wav"), 120.0, 8000);
    return file;
}
} // namespace

PaceClock::PaceClock() : m_engine(std::make_unique<engine::MpvEngine>(engine::MpvEngine::Options{false, false}))
{
    m_engine->load(paceFile());
    if (m_engine->waitForLoad(5000)) (void)QTest::qWaitFor([this] { return position() >= 0.05; }, kSafetyNetMs);
}

PaceClock::~PaceClock() = default;

double PaceClock::position() const { return m_engine->position(); }

bool PaceClock::letPlay(double seconds)
{
    const double from = position();
    return QTest::qWaitFor([&] { return position() >= from + seconds; }, kSafetyNetMs);
}

} // namespace testkit
