#include "SearchResults.h"

#include "SearchTexts.h"

#include "db/Database.h"

#include <QLocale>

using namespace Qt::StringLiterals;

namespace qrb {

SearchResults::SearchResults(QObject *parent)
    : QAbstractListModel(parent)
{
}

SearchResults::~SearchResults() = default;

QList<SearchHit> SearchResults::readPage()
{
    // One line more than a page tells whether another page follows, without asking again at the end.
    SearchPage page{m_hits.isEmpty() ? std::nullopt : std::optional<SearchHit>(m_hits.constLast()), PageSize + 1};
    QList<SearchHit> found = m_reader(page);
    m_atEnd = found.size() <= PageSize;
    if (!m_atEnd) {
        found.removeLast();
    }
    return found;
}

void SearchResults::start(Reader reader)
{
    clear();
    m_reader = std::move(reader);
    const QList<SearchHit> first = readPage();
    m_started = true;
    if (!first.isEmpty()) {
        beginInsertRows({}, 0, int(first.size()) - 1);
        m_hits = first;
        endInsertRows();
    }
    emit countChanged();
}

void SearchResults::clear()
{
    beginResetModel();
    m_hits.clear();
    m_reader = nullptr;
    m_started = false;
    m_atEnd = true;
    m_failed = false;
    endResetModel();
    emit countChanged();
}

int SearchResults::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_hits.size());
}

QVariant SearchResults::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_hits.size()) {
        return {};
    }
    const SearchHit &hit = m_hits.at(index.row());
    if (role == Qt::DisplayRole) {
        return searchLine(hit);
    }
    return {};
}

bool SearchResults::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && !m_atEnd && !m_failed;
}

void SearchResults::fetchMore(const QModelIndex &parent)
{
    if (!canFetchMore(parent)) {
        return;
    }
    QList<SearchHit> next;
    try {
        next = readPage();
    } catch (const DbError &error) {
        m_failed = true;
        emit pageFailed(error.message());
        return;
    }
    if (!next.isEmpty()) {
        beginInsertRows({}, int(m_hits.size()), int(m_hits.size() + next.size()) - 1);
        m_hits.append(next);
        endInsertRows();
    }
    emit countChanged();
}

QString SearchResults::countText() const
{
    if (!m_started) {
        return {};
    }
    const QString shown = QLocale(QLocale::Japanese, QLocale::Japan).toString(m_hits.size());
    return m_atEnd ? shown + u"件"_s : shown + u"件以上"_s;
}

} // namespace qrb
