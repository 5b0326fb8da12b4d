#include "playback/beatsahead.h"

#include "beats/beatsource.h"
#include "playback/enginecontrol.h"

#include <memory>

namespace playback {

BeatsAhead::BeatsAhead(EngineControl* control, QObject* parent)
    : QObject(parent), m_control(control), m_source(new beats::BeatSource(this))
{
    // Given again when they change: a correction made meanwhile reaches the engine too.
    connect(m_source, &beats::BeatSource::changed, this, [this] {
        if (m_source->status() != beats::BeatSource::Status::Ready || m_source->file().isEmpty()) return;
        m_control->engine()->setBeats(m_source->file(), std::make_shared<const beats::BeatGrid>(m_source->grid()));
    });
}

void BeatsAhead::setFile(const QString& path) { m_source->setFile(path); }

} // namespace playback
