#pragma once

#include <QColor>

namespace qrb {

// How a day the clinic is shut looks wherever the desk shows dates: red as on a printed calendar, on a
// pale rose ground so that it stands apart from an ordinary Sunday.
inline const QColor ClosedDayText(0xC0, 0x00, 0x00);
inline const QColor ClosedDayGround(0xFF, 0xD8, 0xD8);

} // namespace qrb
