#include "app/practice.h"

#include <cmath>

double PracticeSettings::pitchScale() const
{
    return std::exp2((transposeSemitones * 100.0 + transposeCents) / 1200.0);
}
