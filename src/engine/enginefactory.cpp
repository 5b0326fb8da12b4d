#include "engine/enginefactory.h"

#include "engine/mediaengine.h"

namespace engine {
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
