#include "HelpScreen.h"

#include <QFont>
#include <QLabel>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace qrb {

HelpScreen::HelpScreen(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(u"frmHELP"_s);
    setWindowTitle(u"HELP"_s);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 16, 24, 16);
    layout->setSpacing(4);

    auto *title = new QLabel(u"[操作説明]"_s, this);
    title->setObjectName(u"Label1(0)"_s);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
    titleFont.setBold(true);
    title->setFont(titleFont);
    layout->addWidget(title);

    // Lines 11 … 20 would carry how to reach the maintainers; this clinic's copy has none. Reports open
    // in the program's own viewer (line 6), where they are printed or saved as PDF.
    const QStringList lines = {
        QString(),
        u"1.メニュー説明"_s,
        u"　(1)予約登録：予約者の登録・削除を行います。"_s,
        u"　(2)検　　索：氏名・カナ氏名・電話番号で予約者を参照できます。"_s,
        u"　(3)来院記録：指定日の予約者を表示します。また、来院者登録できます。"_s,
        u"　(4)予約状況：３ヶ月カレンダーから指定日を選択し、時間単位で予約者を参照できます。"_s,
        u"　(5)帳　　票：日報・未来院・月報を出力し、本プログラムの帳票画面で表示します。"_s,
        u"　(6)設　　定：曜日別・1時間単位で摂取可能人数を設定します。"_s,
        u"　(7)ＨＥＬＰ：この画面です。"_s,
        u"　(8)ＤＢ管理：データベースの整理を行います。"_s,
        u"　(9)プログラム終了：このプログラムを終了します。"_s,
    };
    QFont lineFont = font();
    lineFont.setPointSizeF(lineFont.pointSizeF() * 1.15);
    for (int i = 0; i <= 20; ++i) {
        auto *label = new QLabel(i < lines.size() ? lines.at(i) : QString(), this);
        label->setObjectName(u"Label2(%1)"_s.arg(i));
        label->setFont(lineFont);
        label->setVisible(i < lines.size());
        layout->addWidget(label);
    }
    layout->addStretch(1);
}

HelpScreen::~HelpScreen() = default;

} // namespace qrb
