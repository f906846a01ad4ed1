#include "shell/gui/ProgramFont.h"

#include <QStringList>

namespace velmora {

QFont programFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"), QStringLiteral("Noto Sans CJK JP"),
                      QStringLiteral("IPAPGothic"), QStringLiteral("VL PGothic"), QStringLiteral("TakaoPGothic"),
                      QStringLiteral("Noto Sans JP"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(12);
    return font;
}

}  // namespace velmora
