#include "player/enginefactory.h"

#include "player/mediaengine.h"

namespace player {
namespace {
EngineFactory& factory()
{
    static EngineFactory f;
    return f;
}
}

void setEngineFactory(EngineFactory f) { factory() = std::move(f); }

MediaEngine* makeEngine()
{
    Q_ASSERT(factory());
    return factory()();
}
}
