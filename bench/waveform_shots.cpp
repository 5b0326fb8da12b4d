// The program's windows with waveforms, for screenshots: the player window playing a sound
// file's stretch and the entry editor on the same file, its waveform holding the keyboard.
// Prints READY once both waveforms are complete, beats and bars included, then stays until
// closed.
//
//   waveform_shots FILE [--dark]
#include "engine/enginefactory.h"
#include "engine/midi/midiengine.h"
#include "engine/mpv/mpvengine.h"
#include "waveform/waveformview.h"
#include "services/look.h"
#include "windows/forms.h"
#include "windows/frmedit.h"
#include "windows/frmplayer.h"
#include "windows/frmplaylist.h"

#include <QApplication>
#include <QStyleFactory>
#include <QTimer>

#include <clocale>
#include <cstdio>

namespace {
// What a dark desktop theme hands the program.
QPalette darkPalette()
{
    QPalette p;
    p.setColor(QPalette::Window, QColor(45, 45, 48));
    p.setColor(QPalette::WindowText, QColor(230, 230, 230));
    p.setColor(QPalette::Base, QColor(30, 30, 32));
    p.setColor(QPalette::AlternateBase, QColor(45, 45, 48));
    p.setColor(QPalette::Text, QColor(230, 230, 230));
    p.setColor(QPalette::PlaceholderText, QColor(150, 150, 150));
    p.setColor(QPalette::Button, QColor(55, 55, 58));
    p.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    p.setColor(QPalette::BrightText, QColor(255, 90, 90));
    p.setColor(QPalette::Highlight, QColor(70, 140, 230));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Mid, QColor(90, 90, 95));
    p.setColor(QPalette::Light, QColor(80, 80, 85));
    p.setColor(QPalette::Dark, QColor(20, 20, 22));
    return p;
}
} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vamplet"));
    std::setlocale(LC_NUMERIC, "C");
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: waveform_shots FILE [--dark] [--line TEXT]\n");
        return 2;
    }
    const QString file = args.at(1);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (args.contains(QStringLiteral("--dark"))) QApplication::setPalette(darkPalette());
    // The program's own font and style sheet.
    services::applyLook(app);
    engine::setEngineFactory([] {
        engine::MpvEngine::Options quiet;
        quiet.audioOutput = false;
        return new engine::MidiEngine(new engine::MpvEngine(quiet));
    });

    windows::frmPlayer* window = forms::frmPlayer();
    window->InitPlayer(QString());
    window->show();
    window->move(10, 10);
    window->resize(window->size() * 1.4);
    // The entry's text, as a line of a drill shows while it plays.
    const qsizetype line = args.indexOf(QStringLiteral("--line"));
    window->PlayPosition(file, QStringLiteral("95"), QStringLiteral("140"), QStringLiteral("1"), QStringLiteral("1"), true,
                         {}, line > 0 ? args.value(line + 1) : QString());
    forms::frmPlayList()->move(window->frameGeometry().right() + 20, 10);

    editor::frmEdit* edit = forms::frmEdit();
    edit->LoadEdit(file, QStringLiteral("30.5"), QStringLiteral("61.25"), QStringLiteral("1"), QStringLiteral("2"),
                   forms::frmPlayList());
    edit->move(10, window->frameGeometry().bottom() + 20);
    edit->waveform()->setFocus();

    auto* waveform = window->findChild<waveform::WaveformView*>(QStringLiteral("Waveform"));
    auto* poll = new QTimer(&app);
    QObject::connect(poll, &QTimer::timeout, [=] {
        const auto ready = waveform::WaveformSource::Status::Ready;
        // The beats too, where they are being found.
        const auto analysing = beats::BeatSource::Status::Analysing;
        if (waveform && waveform->source()->status() == ready && edit->waveform()->source()->status() == ready &&
            waveform->beats()->status() != analysing && edit->waveform()->beats()->status() != analysing) {
            poll->stop();
            edit->activateWindow();
            edit->waveform()->setFocus();
            QTimer::singleShot(500, [] {
                std::printf("READY\n");
                std::fflush(stdout);
            });
        }
    });
    poll->start(100);
    return QApplication::exec();
}
