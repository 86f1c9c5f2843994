#pragma once

#include <QListWidget>

namespace qrb {

// One of the two visit record lists. A line dragged from the partner list and let go here is reported
// as dropped(); the lists themselves are left alone, the screen moves the line once its flag is written.
// A drag within one list, or from anywhere else, is refused.
class VisitList final : public QListWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(VisitList)

public:
    explicit VisitList(QWidget *parent = nullptr);
    ~VisitList() override;

    void setPartner(VisitList *partner) { m_partner = partner; }

signals:
    void dropped();

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    bool fromPartner(const QDropEvent *event) const;

    VisitList *m_partner = nullptr;
};

} // namespace qrb
