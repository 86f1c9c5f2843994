#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class QListWidget;

namespace qrb {
class Database;
}

namespace qrb::test {

// Driving a screen as the receptionist does: controls found by their objectName, text typed key by
// key, buttons and lines clicked with the mouse.

QWidget *findControl(const QObject *screen, const QString &name); // stops the test when there is none
template <typename T = QWidget> T *control(const QObject *screen, const QString &name)
{
    return qobject_cast<T *>(findControl(screen, name));
}

// Shows the screen as the active window, so that clicks and keys move the focus as they do at the desk.
void showActive(QWidget *screen);

// A left click in the middle of the named control.
void click(const QObject *screen, const QString &name);

// Enters a box or editable picker with Tab, selects what it holds and types `text` over it (ASCII
// as keys, anything else as the input method commits it), then leaves it with Tab unless told not to.
void typeInto(QWidget *box, const QString &text, bool leave = true);

// A left click on a line of a list.
void clickLine(QListWidget *list, int row);

// The texts of the named list, or of one column of the named table, top to bottom, empty cells left out.
QStringList linesOf(const QObject *screen, const QString &name, int column = 0);

// What the named controls show: a box, picker or label its text, an option "on" or "off".
QStringList shows(const QObject *screen, const QStringList &names);

// What a tooltip shows the user: its text read as rich text where Qt takes it for rich text, as
// QToolTip does.
QString toolTipShows(const QString &toolTip);

// The given columns of the matching reservations, row after row, in the order of their numbers.
QStringList stored(Database &db, const QString &columns, const QString &where = QStringLiteral("1 = 1"));

} // namespace qrb::test
