#pragma once

#include <QStringList>

namespace qrb::bench {

int run(const QStringList &arguments);

} // namespace qrb::bench
