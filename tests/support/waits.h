#pragma once
// Waits that end on the state a test checks, never on the wall clock: for "nothing more
// happened", something that must come after the thing that must not happen.

#include <memory>

namespace engine { class MpvEngine; }

namespace testkit {

// Returns once the event loop has run everything queued before the call (posted events and
// zero-time timers run in the order queued); false when it never got there.
bool runQueued();

// A second engine playing a long file at rate 1: the clock a check that nothing moved is
// read against. A busy machine slows it and the engine under test alike.
class PaceClock {
public:
    PaceClock();
    ~PaceClock();
    double position() const;
    // Returns once the pace engine has played `seconds` more; false if it stalled. Its
    // file lasts 120 s.
    bool letPlay(double seconds);

private:
    std::unique_ptr<engine::MpvEngine> m_engine;
};

} // namespace testkit
