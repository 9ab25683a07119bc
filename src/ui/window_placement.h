#pragma once

#include <QRect>

namespace hx {

// The share of the screen's free area that the window takes at its first start, when no place is stored.
inline constexpr double kFirstStartShare = 0.6;

// The window's place at a first start: 60 % of the screen's available area each way, centred in it.
QRect FirstStartGeometry(const QRect& available);

}  // namespace hx
