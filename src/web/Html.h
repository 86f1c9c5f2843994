#pragma once

#include <QString>

namespace qrb::web {

// The one way a value enters a page: &, <, >, " and ' become entities, so that no text typed by a
// patient, stored at the desk or written in setting.ini can become markup, in an element or in an
// attribute.
QString esc(const QString &text);

// The page around a content: the clinic's name, telephone number and notice on every page.
struct Site {
    QString clinic;
    QString tel;
    QString notice;
};
QString page(const Site &site, const QString &title, const QString &content);

// The one stylesheet, served at /style.css.
QByteArray stylesheet();

} // namespace qrb::web
