#include "PatientForm.h"

#include "DatePickers.h"
#include "KanaCaptureEdit.h"

#include "config/Clock.h"
#include "db/Booking.h"
#include "screens/common/Named.h"
#include "shared/Eras.h"
#include "shared/Text.h"

#include <QComboBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include <utility>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

template <std::size_t N> int checkedIndex(const std::array<QRadioButton *, N> &buttons)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (buttons[i]->isChecked()) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Option buttons of one frame exclude each other; unchecking the checked one needs that rule lifted.
template <std::size_t N> void selectOption(const std::array<QRadioButton *, N> &buttons, int index)
{
    for (std::size_t i = 0; i < N; ++i) {
        QRadioButton *button = buttons[i];
        if (static_cast<int>(i) == index) {
            button->setChecked(true);
        } else if (button->isChecked()) {
            button->setAutoExclusive(false);
            button->setChecked(false);
            button->setAutoExclusive(true);
        }
    }
}

// A focus change that only comes from another window being activated (a message box, another program)
// or from a context menu is no entering or leaving of a box.
bool isFocusMove(const QEvent *event)
{
    const Qt::FocusReason reason = static_cast<const QFocusEvent *>(event)->reason();
    return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
}

} // namespace

QLabel *PatientForm::requiredLabel(const QString &name, QWidget *parent)
{
    QLabel *label = named<QLabel>(name, u"(必須入力)"_s, parent);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::red);
    label->setPalette(palette);
    return label;
}

PatientForm::PatientForm(const Clock &clock, QWidget *parent)
    : QWidget(parent)
    , m_clock(clock)
{
    m_name = new KanaCaptureEdit(this);
    for (int i = 0; i < 9; ++i) {
        if (i == 6 || i == 7) {
            continue;
        }
        QLineEdit *edit = i == 0 ? m_name : new QLineEdit(this);
        edit->setObjectName(u"Text1(%1)"_s.arg(i));
        edit->installEventFilter(this);
        m_lineEdits[i] = edit;
    }
    m_remarks = new QPlainTextEdit(this);
    m_remarks->setObjectName(u"Text1(6)"_s);
    m_remarks->setTabChangesFocus(true);
    m_remarks->setFixedHeight(80);
    // Qt offers no hint for hiragana or katakana input; the boxes that take digits ask for them.
    for (int i : {2, 3, 4, 5, 8}) {
        m_lineEdits[i]->setInputMethodHints(Qt::ImhPreferNumbers | Qt::ImhPreferLatin);
    }

    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(8);

    // The patient line: number, name and kana, then the birth date with the age and the telephones.
    auto *patient = new QGridLayout;
    patient->setHorizontalSpacing(6);
    patient->addWidget(new QLabel(u"患者番号"_s, this), 0, 0);
    patient->addWidget(m_lineEdits[8], 0, 1);
    auto *nameCaption = new QHBoxLayout;
    nameCaption->addWidget(new QLabel(u"氏名"_s, this));
    nameCaption->addWidget(requiredLabel(QString(), this));
    patient->addLayout(nameCaption, 0, 2);
    patient->addWidget(m_name, 0, 3);
    patient->addWidget(new QLabel(u"カナ氏名"_s, this), 0, 4);
    patient->addWidget(m_lineEdits[1], 0, 5);

    patient->addWidget(new QLabel(u"生年月日 "_s, this), 1, 0);
    auto *birth = new QHBoxLayout;
    m_era = DatePickers::makeCombo(u"Combo1(4)"_s, 72, this);
    m_era->setMaxVisibleItems(12);
    m_era->setFixedWidth(72);
    birth->addWidget(m_era);
    m_lineEdits[2]->setFixedWidth(132);
    birth->addWidget(m_lineEdits[2]);
    birth->addSpacing(8);
    birth->addWidget(named<QLabel>(u"Label2(4)"_s, u"年齢"_s, this));
    birth->addSpacing(6);
    m_age = named<QLabel>(u"Label6"_s, QString(), this);
    m_age->setMinimumWidth(40);
    birth->addWidget(m_age);
    m_ageValue = named<QLabel>(u"Label3(1)"_s, QString(), this);
    birth->addWidget(m_ageValue);
    birth->addStretch(1);
    patient->addLayout(birth, 1, 1);
    patient->addWidget(new QLabel(u"電話番号１"_s, this), 1, 2);
    patient->addWidget(m_lineEdits[3], 1, 3);
    patient->addWidget(new QLabel(u"電話番号２"_s, this), 1, 4);
    patient->addWidget(m_lineEdits[4], 1, 5);
    patient->addWidget(named<QLabel>(u"Label2(5)"_s, u"入力例）　西暦：20020101 和暦：190101"_s, this), 2, 1, 1, 3);
    m_lineEdits[8]->setMinimumWidth(100);
    patient->setColumnStretch(1, 1);
    patient->setColumnStretch(3, 2);
    patient->setColumnStretch(5, 2);
    root->addLayout(patient);

    // The frames and the remarks.
    auto *frames = new QHBoxLayout;
    auto *visitFrame = new QGroupBox(u"来院歴"_s, this);
    visitFrame->setObjectName(u"Frame1(0)"_s);
    auto *visitLayout = new QVBoxLayout(visitFrame);
    const QStringList visitTexts = {u"来院歴あり"_s, u"来院歴なし"_s};
    for (int i = 0; i < 2; ++i) {
        m_visited[i] = new QRadioButton(visitTexts.at(i), visitFrame);
        m_visited[i]->setObjectName(u"Option1(%1)"_s.arg(i));
        visitLayout->addWidget(m_visited[i]);
    }
    visitLayout->addStretch(1);
    frames->addWidget(visitFrame);

    auto *memberFrame = new QGroupBox(u"組合員"_s, this);
    memberFrame->setObjectName(u"Frame1(1)"_s);
    auto *memberLayout = new QVBoxLayout(memberFrame);
    const QStringList memberTexts = {u"組合員です"_s, u"組合員ではありません"_s};
    for (int i = 0; i < 2; ++i) {
        m_member[i] = new QRadioButton(memberTexts.at(i), memberFrame);
        m_member[i]->setObjectName(u"Option2(%1)"_s.arg(i));
    }
    m_lineEdits[5]->setParent(memberFrame);
    m_lineEdits[5]->setFixedWidth(140);
    memberLayout->addWidget(m_member[0]);
    memberLayout->addWidget(m_lineEdits[5]);
    memberLayout->addWidget(m_member[1]);
    memberLayout->addStretch(1);
    frames->addWidget(memberFrame);

    auto *typeFrame = new QGroupBox(u"種別"_s, this);
    typeFrame->setObjectName(u"Frame2"_s);
    auto *typeLayout = new QVBoxLayout(typeFrame);
    const QStringList typeTexts = {u"季節性"_s, u"新型"_s, u"新型　１回目"_s, u"新型  ２回目"_s};
    for (int i = 0; i < 4; ++i) {
        m_type[i] = new QRadioButton(typeTexts.at(i), typeFrame);
        m_type[i]->setObjectName(u"Option3(%1)"_s.arg(i));
        typeLayout->addWidget(m_type[i]);
        connect(m_type[i], &QRadioButton::clicked, this, [this, i] { emit typeClicked(i); });
    }
    frames->addWidget(typeFrame);

    auto *remarksLayout = new QVBoxLayout;
    remarksLayout->addWidget(named<QLabel>(u"Label1(6)"_s, u"備考"_s, this));
    remarksLayout->addWidget(m_remarks);
    remarksLayout->addStretch(1);
    frames->addLayout(remarksLayout, 1);
    root->addLayout(frames);
}

PatientForm::~PatientForm() = default;

QString PatientForm::text(int index) const
{
    // What a box holds is read as it will be stored: a name pasted from a spreadsheet keeps no line
    // break or tab that would split it in the name list and the reports.
    if (index == 6) {
        return storedRemarks(m_remarks->toPlainText());
    }
    return m_lineEdits[index] != nullptr ? oneLine(m_lineEdits[index]->text()) : QString();
}

void PatientForm::setText(int index, const QString &value)
{
    if (index == 6) {
        m_remarks->setPlainText(storedRemarks(value));
    } else if (m_lineEdits[index] != nullptr) {
        m_lineEdits[index]->setText(oneLine(value));
    }
}

QWidget *PatientForm::box(int index) const
{
    if (index == 6) {
        return m_remarks;
    }
    return m_lineEdits[index];
}

void PatientForm::fillEras()
{
    m_era->addItems(eraPickerTexts());
    m_era->setCurrentText(eraPickerTexts().constFirst());
}

void PatientForm::clear()
{
    for (int i = 0; i < 9; ++i) {
        setText(i, QString());
    }
    m_ageValue->clear();
    m_age->clear();
    selectOption(m_visited, -1);
    selectOption(m_member, -1);
    selectOption(m_type, -1);
}

void PatientForm::fill(const Reservation &r, bool wholeReservation)
{
    if (wholeReservation) {
        setText(8, r.kno);
    }
    setText(0, r.knm);
    setText(1, r.kknm);
    if (const auto era = r.bflg ? eraName(*r.bflg) : std::nullopt) {
        m_era->setCurrentText(*era);
    }
    setText(2, r.birthday);
    setText(3, r.tel1);
    setText(4, r.tel2);
    if (!wholeReservation) {
        selectOption(m_visited, 0);
        return;
    }
    const auto flagOption = [](std::optional<int> flag) { return flag == 1 ? 0 : flag == 2 ? 1 : -1; };
    selectOption(m_visited, flagOption(r.rflg));
    selectOption(m_member, flagOption(r.kflg));
    // Selecting the stored type is no choice of the user's: row 2 stays as it is.
    if (const auto type = typeOfCodes(r.sflg, r.scnt)) {
        selectOption(m_type, *type);
    }
    setText(5, r.kmno);
    setText(6, r.biko);
}

int PatientForm::type() const
{
    return checkedIndex(m_type);
}

BookingRecord PatientForm::bookingOf(const Slot &slot, DoseCodes codes) const
{
    BookingRecord r;
    r.kno = text(8);
    r.knm = text(0);
    r.kknm = text(1);
    r.ydate = slot.dateKey;
    r.ytime = slot.hour;
    r.bflg = eraCode(m_era->currentText());
    r.birthday = text(2);
    r.tel1 = text(3);
    r.tel2 = text(4);
    r.rflg = checkedIndex(m_visited) + 1;
    r.kflg = checkedIndex(m_member) + 1;
    r.biko = text(6);
    r.sflg = codes.sflg;
    r.scnt = codes.scnt;
    r.kmno = text(5);
    return r;
}

void PatientForm::Text1_GotFocus(int index)
{
    if (index != 0) {
        return;
    }
    m_name->selectAll();
    m_name->startCapture();
}

void PatientForm::Text1_LostFocus(int index)
{
    if (index == 0) {
        setText(1, text(1) + m_name->takeCapturedReadings());
    } else if (index == 2) {
        const auto rewritten = rewriteBirthDate(text(2));
        if (!rewritten) {
            return;
        }
        setText(2, rewritten->text);
        // Eight digits are a western date whatever era the last patient left in the picker: the
        // picker says so, so that the era stored is the one the report prints the date with.
        if (rewritten->ageMode == 0) {
            m_era->setCurrentText(*eraName(Seireki));
        }
        const auto age = get_age(rewritten->ageMode, m_era->currentText(), rewritten->text, m_clock.today());
        m_age->setText(age ? QString::number(*age) + u"才"_s : QString());
    } else if (index == 8) {
        emit numberLeft(text(8));
    }
}

bool PatientForm::eventFilter(QObject *watched, QEvent *event)
{
    for (int index = 0; index < 9; ++index) {
        if (m_lineEdits[index] == nullptr || watched != m_lineEdits[index]) {
            continue;
        }
        if (event->type() == QEvent::FocusOut && isFocusMove(event)) {
            // The box shows what will be stored from the moment it is left.
            if (m_lineEdits[index]->text() != text(index)) {
                setText(index, text(index));
            }
            Text1_LostFocus(index);
        } else if (event->type() == QEvent::FocusIn && isFocusMove(event)) {
            Text1_GotFocus(index);
            const bool byMouse = static_cast<QFocusEvent *>(event)->reason() == Qt::MouseFocusReason;
            m_enteredByMouse = byMouse ? index : -1;
        } else if (event->type() == QEvent::MouseButtonPress) {
            // The focus comes before the press that gave it; a right click (to paste a name) keeps the form.
            if (std::exchange(m_enteredByMouse, -1) == index &&
                static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
                emit boxClicked(index);
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace qrb
