#pragma once

#include <QIcon>
#include <QPixmap>

namespace hx {

// The pictures of the program, drawn as SVG (src/ui/art) and rendered at the size and pixel ratio asked for,
// so they stay sharp on any screen.
enum class ToolbarImage { TftpOn, FtpOn, Config, Exit, TftpOff, FtpOff };

QIcon ProgramIcon();
QIcon ToolbarIcon(ToolbarImage image);
// The splash picture at its logical size for a screen of the given pixel ratio; null when it cannot be drawn.
QPixmap SplashPicture(qreal devicePixelRatio);

// Registers the compiled-in resources of the window's library; call once before using anything above.
void InitUiResources();

}  // namespace hx
