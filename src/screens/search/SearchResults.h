#pragma once

#include "db/Search.h"

#include <QAbstractListModel>

#include <functional>

namespace qrb {

// The search screen's result list, read page by page as the user scrolls: the first page at once, each
// further one when the view reaches the end of what is loaded, starting after the last line shown.
// Each line is the list's text; the line's reservation number, day, hour and name travel with it
// (hitAt), so that a click finds exactly that reservation even when two patients share a name, day and
// hour, and never another one that took over the line's number.
class SearchResults final : public QAbstractListModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SearchResults)

public:
    // Reads one page of a search's reservations.
    using Reader = std::function<QList<SearchHit>(const SearchPage &)>;
    // More than a screenful, so that the first page fills the list even on a tall screen.
    static constexpr int PageSize = 100;

    explicit SearchResults(QObject *parent = nullptr);
    ~SearchResults() override;

    // Starts a new list and reads its first page; a DbError leaves the list empty and is thrown.
    void start(Reader reader);
    void clear();

    // The reservation a line stands for, as it was listed.
    const SearchHit &hitAt(const QModelIndex &line) const { return m_hits.at(line.row()); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

    // "123件" once the end is loaded; "100件以上" while more lines remain to be read; empty before a
    // search. Counting every match first would cost the full read that paging avoids.
    QString countText() const;

signals:
    // A further page could not be read (the database went away): the message for the user. The list
    // keeps what it has and reads no further.
    void pageFailed(const QString &message);
    void countChanged();

private:
    QList<SearchHit> readPage();

    Reader m_reader;
    QList<SearchHit> m_hits;
    bool m_started = false;
    bool m_atEnd = true;
    bool m_failed = false; // a page could not be read: the count stays open-ended
};

} // namespace qrb
