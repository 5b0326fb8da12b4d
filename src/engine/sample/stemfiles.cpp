#include "engine/sample/stemfiles.h"

#include "audio/audiodecoder.h"
#include "audio/decodersource.h"

#include <QDir>
#include <QFileInfo>

namespace engine {

namespace {

// A stem's decoder and its reader, owned together.
class StemFile : public audio::FrameSource {
public:
    explicit StemFile(std::unique_ptr<audio::Decoder> d) : m_decoder(std::move(d)), m_source(m_decoder.get()) {}
    qint64 frames() const override { return m_source.frames(); }
    qint64 readAt(qint64 pos, float* out, qint64 n) override { return m_source.readAt(pos, out, n); }

private:
    std::unique_ptr<audio::Decoder> m_decoder;
    audio::DecoderSource m_source;
};

// A stem whose file did not open: silent, keeping the others' places.
class Missing : public audio::FrameSource {
public:
    qint64 frames() const override { return -1; }
    qint64 readAt(qint64, float*, qint64) override { return -1; }
};

} // namespace

QStringList stemPaths(const StemSet& set, const QString& mainPath)
{
    const QDir dir = QFileInfo(mainPath).absoluteDir();
    QStringList paths;
    for (const Stem& s : set.stems) paths << QDir::cleanPath(dir.absoluteFilePath(s.file));
    return paths;
}

std::vector<float> stemGains(const StemSet& set)
{
    std::vector<float> g;
    for (int i = 0; i < set.stems.size(); ++i) g.push_back(float(set.gain(i)));
    return g;
}

OpenStems openStems(const StemSet& set, const QString& mainPath, int sampleRate, qint64 frames)
{
    OpenStems out;
    if (!set.any() || sampleRate <= 0) return out;
    out.paths = stemPaths(set, mainPath);
    std::vector<std::unique_ptr<audio::FrameSource>> sources;
    int opened = 0;
    for (const QString& path : out.paths) {
        auto d = std::make_unique<audio::Decoder>();
        if (d->open(path, nullptr, sampleRate)) {
            sources.push_back(std::make_unique<StemFile>(std::move(d)));
            ++opened;
        } else {
            sources.push_back(std::make_unique<Missing>());
        }
    }
    if (opened == 0) return out;
    out.mix = std::make_unique<audio::StemMix>(std::move(sources), frames);
    out.mix->setGains(stemGains(set));
    return out;
}

} // namespace engine
