#pragma once
// The playback stack as the program builds it (the sample engine behind the routing and
// MIDI engines, a media player, entry playback with list play over a list of rows) on an
// output pulled by hand: a list renders into memory on a virtual clock, the same way every
// run and far faster than real time. For tests and benchmarks; the program never uses it.
#include "playback/listplay.h"
#include "engine/mediaengine.h"
#include "engine/sample/sampleengine.h"

#include <memory>
#include <vector>

namespace playback { class EntryPlayer; class MediaPlayer; }
namespace audio { class ManualOutput; }
namespace offline {

// Rows held in memory; counts how often list play selected one.
class RowList : public playback::EntryList {
public:
    struct Row {
        QStringList texts;  // file name, start, end, rate, loop
        PracticeSettings practice;
    };
    std::vector<Row> rows;
    int selections = 0;

    int rowCount() const override { return int(rows.size()); }
    QStringList rowTexts(int row) const override { return rows.at(std::size_t(row - 1)).texts; }
    void selectRow(int row) override
    {
        m_selected = row;
        ++selections;
    }
    int selectedRow() const override { return m_selected; }
    void setRow(int row, const QStringList& texts, const PracticeSettings& practice) override
    {
        rows.at(std::size_t(row - 1)) = Row{texts, practice};
    }
    PracticeSettings rowPractice(int row) const override { return rows.at(std::size_t(row - 1)).practice; }

private:
    int m_selected = 0;
};

class OfflineStack {
public:
    // `video` stands in for the video engine, which sound files never reach; taken over.
    explicit OfflineStack(engine::MediaEngine* video, int blockMs = 10);
    ~OfflineStack();

    RowList list;
    playback::EntryPlayer& playback() const { return *m_playback; }
    engine::MediaEngine& engine() const;

    // "Play the List" from row `row`, as the control panel starts it.
    void playList(int row = 1);
    // One block of the output's time: the worker renders all it may, the block is pulled
    // onto the recording, and the UI side handles what was heard, as its timers would by
    // then. False when the worker did not get idle (it hangs).
    bool step();

    // What was heard, stereo, at the output's rate from each `rates` entry's frame on.
    std::vector<float> recording;
    struct RateFrom {
        qint64 frame;
        int sampleRate;
    };
    std::vector<RateFrom> rates;
    qint64 frames() const { return qint64(recording.size() / 2); }

    // What the UI side saw after each block.
    struct Seen {
        qint64 frame;    // recording frames by then
        int selections;  // rows list play selected so far
        int row;         // the list's cursor
        double position;
        bool playing;
    };
    std::vector<Seen> seen;
    // The runs of sound the engine told of, each once, in the order they play.
    std::vector<engine::SampleEngine::Heard> runs;

private:
    bool settle();

    audio::ManualOutput* m_output = nullptr;  // owned by the sample engine
    engine::SampleEngine* m_sample = nullptr;
    std::unique_ptr<playback::MediaPlayer> m_player;
    playback::EntryPlayer* m_playback = nullptr;  // owned by the media player
    qint32 m_cursor = 0;
    int m_blockMs;
};

} // namespace offline
