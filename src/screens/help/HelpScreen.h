#pragma once

#include <QWidget>

namespace qrb {

// The operating instructions shown at start-up and from the menu entry "HELP" (objectName "frmHELP").
class HelpScreen final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HelpScreen)

public:
    explicit HelpScreen(QWidget *parent = nullptr);
    ~HelpScreen() override;
};

} // namespace qrb
