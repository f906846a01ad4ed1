#pragma once

#include <QFont>

namespace velmora {

// The windows' font: the Japanese proportional Gothic at 12 pixels, with look-alikes found on Linux.
QFont programFont();

}  // namespace velmora
