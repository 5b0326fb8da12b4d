#pragma once
#include <functional>

namespace engine {
class MediaEngine;

// Makes the engine of each new media player: the real one in the program, a fake in tests.
using EngineFactory = std::function<MediaEngine*()>;
void setEngineFactory(EngineFactory factory);
MediaEngine* makeEngine();
}
