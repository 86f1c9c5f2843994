#include "VisitList.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>

namespace qrb {

VisitList::VisitList(QWidget *parent)
    : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSortingEnabled(true);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(false);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::CopyAction);
}

VisitList::~VisitList() = default;

bool VisitList::fromPartner(const QDropEvent *event) const
{
    return m_partner != nullptr && event->source() == m_partner;
}

void VisitList::dragEnterEvent(QDragEnterEvent *event)
{
    // Entering is judged as moving over the list is: only the partner's lines, and only as a copy.
    dragMoveEvent(event);
}

void VisitList::dragMoveEvent(QDragMoveEvent *event)
{
    if (fromPartner(event)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void VisitList::dropEvent(QDropEvent *event)
{
    if (!fromPartner(event)) {
        event->ignore();
        return;
    }
    // A copy, as far as the drag knows: the source list must not remove the line itself, since the
    // screen moves it only after writing its flag.
    event->setDropAction(Qt::CopyAction);
    event->accept();
    emit dropped();
}

} // namespace qrb
