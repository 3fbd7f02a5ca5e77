/*
 * The value, range and text of each kind of control. Standard controls keep
 * them in their Qt widget, in the widget's own terms (a pop-up's value is
 * its item, 1-based; a check box may be mixed); custom controls and any
 * other widget keep value and range in the control record.
 */
#include "ToolboxControlParts.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>

#include <algorithm>

namespace {

/* The adapters are only called for a control whose widget is there. */
template <class W>
W &WidgetOf(OpaqueControlRef &c) {
    return *static_cast<W *>(c.widget.data());
}

template <SInt32 N>
SInt32 Fixed(OpaqueControlRef &) {
    return N;
}

void NoRange(OpaqueControlRef &, std::optional<SInt32>, std::optional<SInt32>) {}

std::optional<QString> NoText(OpaqueControlRef &) { return std::nullopt; }

bool NoSetText(OpaqueControlRef &, const QString &) { return false; }

template <class W>
std::optional<QString> TextOf(OpaqueControlRef &c) {
    return WidgetOf<W>(c).text();
}

template <class W>
bool SetTextOf(OpaqueControlRef &c, const QString &text) {
    WidgetOf<W>(c).setText(text);
    return true;
}

bool SetLabelText(OpaqueControlRef &c, const QString &text) {
    WidgetOf<QLabel>(c).setTextFormat(Qt::PlainText);  // a text is never read as markup
    return SetTextOf<QLabel>(c, text);
}

/* ---- Buttons ---- */

SInt32 ButtonValue(OpaqueControlRef &c) {
    auto &button = WidgetOf<QAbstractButton>(c);
    return button.isCheckable() && button.isChecked() ? 1 : 0;
}

void SetButtonValue(OpaqueControlRef &c, SInt32 value) {
    auto &button = WidgetOf<QAbstractButton>(c);
    if (button.isCheckable()) button.setChecked(value > 0);
}

/* A check box is 0 off, 1 on, 2 mixed; a radio button 0 or 1. */
SInt32 CheckValue(OpaqueControlRef &c) {
    if (auto *box = qobject_cast<QCheckBox *>(c.widget.data()))
        return box->checkState() == Qt::Checked ? 1 : box->checkState() == Qt::PartiallyChecked ? 2 : 0;
    return WidgetOf<QAbstractButton>(c).isChecked() ? 1 : 0;
}

void SetCheckValue(OpaqueControlRef &c, SInt32 value) {
    auto *box = qobject_cast<QCheckBox *>(c.widget.data());
    if (!box) {
        WidgetOf<QAbstractButton>(c).setChecked(value > 0);
        return;
    }
    if (value == 2) box->setTristate(true);
    box->setCheckState(value <= 0 ? Qt::Unchecked : value == 1 ? Qt::Checked : Qt::PartiallyChecked);
}

SInt32 CheckMaximum(OpaqueControlRef &c) {
    auto *box = qobject_cast<QCheckBox *>(c.widget.data());
    return box && box->isTristate() ? 2 : 1;
}

/* ---- Pop-up menus: the value is the chosen item, counted from 1 ---- */

SInt32 PopupValue(OpaqueControlRef &c) { return WidgetOf<QComboBox>(c).currentIndex() + 1; }

void SetPopupValue(OpaqueControlRef &c, SInt32 value) {
    auto &combo = WidgetOf<QComboBox>(c);
    if (combo.count() > 0) combo.setCurrentIndex(ToolboxClamp(value, 1, combo.count()) - 1);
}

SInt32 PopupMaximum(OpaqueControlRef &c) { return WidgetOf<QComboBox>(c).count(); }

/* ---- Sliders and progress bars: the widget's own value and range ---- */

template <class W>
struct Ranged {
    static SInt32 Value(OpaqueControlRef &c) { return WidgetOf<W>(c).value(); }
    static void SetValue(OpaqueControlRef &c, SInt32 value) { WidgetOf<W>(c).setValue(value); }
    static SInt32 Minimum(OpaqueControlRef &c) { return WidgetOf<W>(c).minimum(); }
    static SInt32 Maximum(OpaqueControlRef &c) { return WidgetOf<W>(c).maximum(); }
    /* A value the new range cuts off is moved into it, as Carbon does. */
    static void SetRange(OpaqueControlRef &c, std::optional<SInt32> minimum, std::optional<SInt32> maximum) {
        if (minimum) WidgetOf<W>(c).setMinimum(*minimum);
        if (maximum) WidgetOf<W>(c).setMaximum(*maximum);
    }
};

/* ---- Value and range kept in the record ---- */

/* A custom control shows a new value at once, as Carbon redraws it. */
void SetRecordValue(OpaqueControlRef &c, SInt32 value) {
    SInt32 v = ToolboxClamp(value, c.minimum, c.maximum);
    bool changed = v != c.value;
    c.value = v;
    if (changed) ToolboxRedraw(&c);
}

/* A bound that crosses the other one drags it along. */
void SetRecordRange(OpaqueControlRef &c, std::optional<SInt32> minimum, std::optional<SInt32> maximum) {
    if (minimum) c.minimum = *minimum;
    if (maximum) c.maximum = *maximum;
    if (c.maximum < c.minimum) {
        if (minimum)
            c.maximum = c.minimum;
        else
            c.minimum = c.maximum;
    }
    SetRecordValue(c, c.value);
}

SInt32 RecordValue(OpaqueControlRef &c) { return c.value; }
SInt32 RecordMinimum(OpaqueControlRef &c) { return c.minimum; }
SInt32 RecordMaximum(OpaqueControlRef &c) { return c.maximum; }

const ToolboxControlAdapter kPushButton{
    ButtonValue, SetButtonValue, Fixed<0>, Fixed<1>, NoRange, TextOf<QAbstractButton>, SetTextOf<QAbstractButton>};
const ToolboxControlAdapter kCheckBox{
    CheckValue, SetCheckValue, Fixed<0>, CheckMaximum, NoRange, TextOf<QAbstractButton>, SetTextOf<QAbstractButton>};
const ToolboxControlAdapter kPopupMenu{PopupValue, SetPopupValue, Fixed<1>, PopupMaximum, NoRange, NoText, NoSetText};
const ToolboxControlAdapter kSlider{Ranged<QAbstractSlider>::Value,
                                    Ranged<QAbstractSlider>::SetValue,
                                    Ranged<QAbstractSlider>::Minimum,
                                    Ranged<QAbstractSlider>::Maximum,
                                    Ranged<QAbstractSlider>::SetRange,
                                    NoText,
                                    NoSetText};
const ToolboxControlAdapter kProgress{Ranged<QProgressBar>::Value,
                                      Ranged<QProgressBar>::SetValue,
                                      Ranged<QProgressBar>::Minimum,
                                      Ranged<QProgressBar>::Maximum,
                                      Ranged<QProgressBar>::SetRange,
                                      NoText,
                                      NoSetText};
const ToolboxControlAdapter kStaticText{RecordValue,    SetRecordValue, RecordMinimum, RecordMaximum,
                                        SetRecordRange, TextOf<QLabel>, SetLabelText};
const ToolboxControlAdapter kEditText{RecordValue,    SetRecordValue,    RecordMinimum,       RecordMaximum,
                                      SetRecordRange, TextOf<QLineEdit>, SetTextOf<QLineEdit>};
const ToolboxControlAdapter kRecordOnly{RecordValue,    SetRecordValue, RecordMinimum, RecordMaximum,
                                        SetRecordRange, NoText,         NoSetText};

}  // namespace

SInt32 ToolboxClamp(SInt64 v, SInt32 lo, SInt32 hi) {
    if (hi < lo) hi = lo;
    return static_cast<SInt32>(std::clamp<SInt64>(v, lo, hi));
}

const ToolboxControlAdapter &ToolboxAdapterOf(ControlKind kind) {
    switch (kind) {
        case ControlKind::PushButton:
            return kPushButton;
        case ControlKind::CheckBox:
            return kCheckBox;
        case ControlKind::PopupMenu:
            return kPopupMenu;
        case ControlKind::Slider:
            return kSlider;
        case ControlKind::Progress:
            return kProgress;
        case ControlKind::StaticText:
            return kStaticText;
        case ControlKind::EditText:
            return kEditText;
        case ControlKind::Custom:
        case ControlKind::Other:
            break;
    }
    return kRecordOnly;
}
