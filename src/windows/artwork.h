#pragma once
// The program's own pictures, kept as resources of the core library.
#include <QIcon>
#include <QPixmap>

namespace about {

inline constexpr const char* kProgramPicturePath = ":/about/vamplet60x79.png"; // 60 x 79
inline constexpr const char* kProgramIconPath = ":/about/vamplet32.png";       // 32 x 32

// Both make sure the resources are registered first: a static library's resources are
// otherwise dropped by the linker.
QPixmap programPicture();
QIcon programIcon();

} // namespace about
