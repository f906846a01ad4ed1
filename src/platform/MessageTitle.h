#pragma once

#include <string>
#include <string_view>

namespace velmora {

// A message box's title: the executable's file name without its folder and without everything
// from its first dot, every character after the first in lower case ("C:\x\VOSTREL.EXE" -> "Vostrel").
std::string messageBoxTitle(std::string_view executablePath);

}  // namespace velmora
