#pragma once
// The practice settings of an entry as text: five keys beside the five, numbered the same
// way, in a playlist section and in an exported playlist file. The grid shows the same texts.
//
//   FilePause    "1.5"          seconds of silence before each pass
//                "1.5x"         or that silence as a multiple of the pass's heard length
//   FileCountIn  "4 120 first"  clicks, clicks a minute, "first" or "every" pass
//   FileTrainer  "0.6 0.05 2"   start rate, step, passes per step
//   FilePitch    "-2 15"        semitones, cents
//   FileBeat     "auto click"   the count-in is a bar of the file's beats ("auto"), a click
//                               on every beat while it plays ("click"); FileCountIn stays
//                               what plays while the beats are not known, and what a
//                               reader without this key plays
//   FileHear     "200-4000 cancel left +6dB"
//                               a band in Hz (either side may be open: "2000-"; or "bass",
//                               "voice", "treble"), "cancel" or "keep" the centre, "left",
//                               "right" or "mono", a gain; each part optional, in this order
//
// The texts do not follow the user's locale: "." is the decimal point and the parts are
// separated by blanks, so a file reads the same everywhere. A setting that is off has the
// empty text; an entry without settings writes no key at all.
#include "app/practice.h"

#include <QString>

#include <optional>

namespace storage {

inline const QString kFilePause = QStringLiteral("FilePause");
inline const QString kFileCountIn = QStringLiteral("FileCountIn");
inline const QString kFileTrainer = QStringLiteral("FileTrainer");
inline const QString kFilePitch = QStringLiteral("FilePitch");
inline const QString kFileBeat = QStringLiteral("FileBeat");
inline const QString kFileHear = QStringLiteral("FileHear");

struct PracticeTexts {
    QString pause, countIn, trainer, pitch, beat, hear;
    QString stems;  // storage/stemkeys.h
    bool operator==(const PracticeTexts&) const = default;
};

// The texts of the settings that are on; "" for those that are off.
PracticeTexts practiceTexts(const PracticeSettings& settings);

// Strict: a text that is not exactly one of the forms above, or lies outside the bounds,
// leaves its setting off, as an empty one does. `refused`, when given, counts such texts.
PracticeSettings practiceOf(const PracticeTexts& texts, int* refused = nullptr);

// The grid shows the beat words after the count-in's ("4 120 first auto click") in one cell;
// cellTexts() takes the grid's four cells apart again.
QString countInCell(const PracticeTexts& texts);
PracticeTexts cellTexts(const QString& pause, const QString& countInCell, const QString& trainer, const QString& pitch,
                        const QString& hear = {}, const QString& stems = {});

// Why settings cannot be kept, in words for the user ("" when they can): the one check of
// the bounds (app/practice.h) for whoever builds settings from the user's input.
QString practiceProblem(const PracticeSettings& settings);

// The hear settings' text alone (the grid's cell, the editor's field).
QString hearText(const HearSettings& hear);
// Strict, as practiceOf(): none when the text is not one the key may hold.
std::optional<HearSettings> hearOf(const QString& text);

// Why hear settings cannot be kept ("" when they can); practiceProblem() includes it.
QString hearProblem(const HearSettings& hear);

// The five keys of entry `n` in `section` of `strFile` ("" is the program's INI file).
PracticeTexts readPracticeKeys(const QString& section, const QString& n, const QString& strFile);
// Writes the texts that are on. A setting that is off writes its key empty, and only where
// the key holds a value now, so no reader meets a stale setting and an entry that never had
// settings adds no key.
void writePracticeKeys(const QString& section, const QString& n, const PracticeTexts& texts, const QString& strFile);

} // namespace storage
