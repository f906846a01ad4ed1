#include "platform/MessageTitle.h"

#include <QString>

namespace velmora {

std::string messageBoxTitle(std::string_view executablePath)
{
    const auto slash = executablePath.find_last_of("/\\");
    std::string_view name = slash == std::string_view::npos ? executablePath : executablePath.substr(slash + 1);
    if (const auto dot = name.find('.'); dot != std::string_view::npos)
        name = name.substr(0, dot);
    QString title = QString::fromUtf8(name.data(), qsizetype(name.size()));
    if (title.size() > 1)
        title = title.left(1) + title.mid(1).toLower();
    return title.toStdString();
}

}  // namespace velmora
