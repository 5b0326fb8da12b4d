#pragma once
// Sound of a local file as interleaved float samples at the file's own rate (or one asked
// for) and channel count, with sample-exact seeking. FFmpeg does the work; no FFmpeg header leaks out.
#include <QHash>
#include <QString>
#include <QtGlobal>

#include <memory>

namespace audio {

struct Format {
    int sampleRate = 0;
    int channels = 0;
    qint64 frames = -1;  // -1: not known
};

class Decoder {  // used from one thread at a time
public:
    Decoder();
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Local files only: no network, no playlist or reference expansion. `error` says in
    // words why a file does not open. With `sampleRate` the sound comes resampled to that
    // rate, and frames, lengths and seeks count at it; 0: the file's own rate.
    bool open(const QString& path, QString* error = nullptr, int sampleRate = 0);
    Format format() const;
    // Frames written to `out` (maxFrames * channels floats); 0 at the end, -1 on an error
    // that ends decoding.
    qint64 read(float* out, qint64 maxFrames);
    // The next read starts exactly at `frame`.
    bool seek(qint64 frame);
    // The file's tags under lower-case names ("title", "artist", ...).
    QHash<QString, QString> tags() const;

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace audio
