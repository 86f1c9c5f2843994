#pragma once

#include <QString>

namespace qrb {

// A tooltip that shows `text` exactly as stored, line breaks kept: a name a patient typed on the web
// as "<b>髙橋</b>" would otherwise be taken for markup by Qt and shown in bold, without its tags.
QString plainToolTip(const QString &text);

} // namespace qrb
