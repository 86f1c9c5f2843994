#include "PlainText.h"

using namespace Qt::StringLiterals;

namespace qrb {

QString plainToolTip(const QString &text)
{
    return text.isEmpty() ? QString() : u"<p style=\"white-space:pre-wrap\">"_s + text.toHtmlEscaped() + u"</p>"_s;
}

} // namespace qrb
