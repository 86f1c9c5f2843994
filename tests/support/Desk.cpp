#include "Desk.h"

#include "db/Database.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>
#include <QTextDocument>

using namespace Qt::StringLiterals;

namespace qrb::test {

QWidget *findControl(const QObject *screen, const QString &name)
{
    auto *widget = screen->findChild<QWidget *>(name);
    if (widget == nullptr) {
        qFatal("no control %s", qPrintable(name));
    }
    return widget;
}

void showActive(QWidget *screen)
{
    screen->resize(1024, 768);
    screen->show();
    QApplication::setActiveWindow(screen);
    if (!QTest::qWaitForWindowActive(screen)) {
        qFatal("the screen did not become the active window");
    }
}

void click(const QObject *screen, const QString &name)
{
    QWidget *target = findControl(screen, name);
    if (!target->isVisible()) {
        qFatal("clicking %s, which is hidden", qPrintable(name));
    }
    // An option reacts to a click on its circle or caption only, not anywhere across its row.
    const bool option = target->property("checkable").toBool();
    QTest::mouseClick(target, Qt::LeftButton, {}, option ? QPoint(8, target->height() / 2) : target->rect().center());
}

void typeInto(QWidget *box, const QString &text, bool leave)
{
    auto *combo = qobject_cast<QComboBox *>(box);
    QWidget *editor = combo != nullptr ? combo->lineEdit() : box;
    if (!box->isVisible()) {
        qFatal("typing into %s, which is hidden", qPrintable(box->objectName()));
    }
    box->setFocus(Qt::TabFocusReason);
    QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(editor, Qt::Key_Delete);
    for (const QChar c : text) {
        if (c == u'\n') {
            QTest::keyClick(editor, Qt::Key_Return);
        } else if (c.unicode() < 0x80) {
            QTest::keyClicks(editor, QString(c));
        } else {
            QInputMethodEvent commit;
            commit.setCommitString(QString(c));
            QApplication::sendEvent(editor, &commit);
        }
    }
    if (leave) {
        QTest::keyClick(editor, Qt::Key_Tab);
    }
}

void clickLine(QListWidget *list, int row)
{
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
}

QStringList linesOf(const QObject *screen, const QString &name, int column)
{
    const QAbstractItemModel *model = control<QAbstractItemView>(screen, name)->model();
    QStringList out;
    for (int row = 0; row < model->rowCount(); ++row) {
        out << model->index(row, column).data().toString();
    }
    out.removeAll(QString());
    return out;
}

QStringList shows(const QObject *screen, const QStringList &names)
{
    QStringList out;
    for (const QString &name : names) {
        QWidget *w = findControl(screen, name);
        if (w->property("checkable").toBool()) {
            out << (w->property("checked").toBool() ? u"on"_s : u"off"_s);
        } else if (auto *text = qobject_cast<QPlainTextEdit *>(w)) {
            out << text->toPlainText();
        } else {
            out << w->property(qobject_cast<QComboBox *>(w) != nullptr ? "currentText" : "text").toString();
        }
    }
    return out;
}

QString toolTipShows(const QString &toolTip)
{
    if (!Qt::mightBeRichText(toolTip)) {
        return toolTip;
    }
    QTextDocument document;
    document.setHtml(toolTip);
    return document.toPlainText();
}

QStringList stored(Database &db, const QString &columns, const QString &where)
{
    QStringList out;
    db.forEachRow(u"SELECT %1 FROM YOYAKU WHERE %2 ORDER BY YNO"_s.arg(columns, where), {}, [&](const QSqlQuery &q) {
        for (int i = 0; i < q.record().count(); ++i) {
            out << q.value(i).toString();
        }
    });
    return out;
}

} // namespace qrb::test
