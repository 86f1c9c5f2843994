#pragma once

#include <QHash>
#include <QString>

namespace qrb {

class Database;

// The places offered per weekday (Monday 1 … Sunday 7) and slot ("08" … "17"), as the settings screen
// edits them. A weekday and slot without a SETTING row offers no places.
class CapacityTable final
{
public:
    // Places of one weekday and slot; 0 where the table holds no row for it.
    int get_value(int weekday, const QString &slot) const;
    void set_value(int weekday, const QString &slot, int places);
    qsizetype size() const { return m_places.size(); }

    template<typename F>
    void forEach(F &&f) const
    {
        for (auto it = m_places.cbegin(); it != m_places.cend(); ++it) {
            f(it.key().first, it.key().second, it.value());
        }
    }

private:
    QHash<std::pair<int, QString>, int> m_places;
};

// Every SETTING row, read in one query.
CapacityTable loadCapacities(Database &db);
// Writes every weekday and slot of the table, adding the rows that are missing, as one transaction:
// after a failure SETTING is exactly as it was.
void saveCapacities(Database &db, const CapacityTable &table);

} // namespace qrb
