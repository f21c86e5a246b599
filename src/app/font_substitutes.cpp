#include "font_substitutes.h"

#include <QFont>
#include <QStringList>

namespace velmora {

void InstallFontSubstitutes() {
  static const bool installed = [] {
    const QStringList sans{"Liberation Sans", "DejaVu Sans Condensed", "DejaVu Sans"};
    const QStringList mono{"Liberation Mono", "DejaVu Sans Mono"};
    const QStringList serif{"Liberation Serif", "DejaVu Serif"};
    QFont::insertSubstitutions("MS Sans Serif", sans);
    QFont::insertSubstitutions("Arial", sans);
    QFont::insertSubstitutions("Calibri", QStringList{"Carlito"} + sans);
    QFont::insertSubstitutions("Century", serif);
    QFont::insertSubstitutions("Courier", mono);
    QFont::insertSubstitutions("Fixedsys", mono);
    return true;
  }();
  (void)installed;
}

}  // namespace velmora
