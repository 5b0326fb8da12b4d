#pragma once
#include "app/practice.h"

#include <QString>
#include <QtGlobal>

// One playlist entry as numbers.
struct EntryRecord {
    qint32 Index = 0;  // 1-based grid row, 0 where not set
    QString FileName;
    double Start = 0;
    double Stop = 0;
    double Rate = 0;
    double Loops = 0;
    PracticeSettings Practice;  // all off unless the entry has them
    QString Text;  // the line or label the entry stands for; empty where it has none
};
