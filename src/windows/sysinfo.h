#pragma once
// Finding and starting the system's information tool.
#include <QString>
#include <QStringList>

namespace about {

// Tools tried in this order, the first found is used (not on Windows, where the registry
// names the tool).
const QStringList& sysInfoTools();

// Folders searched for the tools; an empty list means the PATH. For tests.
void setSysInfoSearchPath(const QStringList& folders);

// Full path of the tool to start; empty when there is none.
QString findSysInfoTool();

// Starts the tool; false when none is found or it cannot be started.
bool startSysInfoTool();

} // namespace about
