#pragma once

#include <QPersistentModelIndex>
#include <QWidget>

#include <array>

class QLabel;
class QLineEdit;
class QListView;
class QModelIndex;

namespace qrb {

struct ProgramState;
class SearchResults;

// Looks reservations up by patient number, name, kana name or telephone number and shows the details
// of the one clicked (objectName "frmSearch"). It only reads the database.
class SearchScreen final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SearchScreen)

public:
    explicit SearchScreen(ProgramState &state, QWidget *parent = nullptr);
    ~SearchScreen() override;

    // Empties the search boxes, the detail labels and the result list.
    void clear_all();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Text1_LostFocus(int index);
    void List1_Click(const QModelIndex &line);
    void showDetails(const QModelIndex &line);
    void tellFailure(const QString &doing, const QString &reason);

    ProgramState &m_state;
    // Text1(0) name, Text1(1) kana name, Text1(3) telephone, Text1(4) patient number; there is no Text1(2).
    std::array<QLineEdit *, 5> m_boxes{};
    QListView *m_list = nullptr; // List1
    SearchResults *m_results = nullptr;
    QLabel *m_count = nullptr; // how many lines the search found, beside the list's heading
    std::array<QLabel *, 16> m_values{}; // Label4(0) … Label4(15)
    // The line last found gone: a click makes it current and clicks it, and the user is told once.
    QPersistentModelIndex m_toldGone;
};

} // namespace qrb
