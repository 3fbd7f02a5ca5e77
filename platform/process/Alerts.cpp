// Standard alerts. A GUI layer may install a presenter; without one (or when
// it declines) the alert is printed to standard error and answers its
// default button, so headless hosts never block on a dialog.
#include "process/AlertPresenter.h"

#include "Dialogs.h"
#include "corefoundation/CFPrivate.h"

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

struct OpaqueDialogPtr {
    int kind = kAlertPlainAlert;
    std::string message;
    std::string explanation;
    std::vector<std::string> buttons;  // item i + 1; an empty title is an absent button
    int defaultItem = kAlertStdAlertOKButton;
    int cancelItem = 0;
};

namespace {

std::atomic<AlertPresenter> gPresenter{nullptr};

const char *KindName(int kind) {
    switch (kind) {
        case kAlertStopAlert:
            return "Stop";
        case kAlertNoteAlert:
            return "Note";
        case kAlertCautionAlert:
            return "Caution";
        default:
            return "Alert";
    }
}

bool ButtonExists(const OpaqueDialogPtr &a, int item) {
    return item >= 1 && static_cast<size_t>(item) <= a.buttons.size() && !a.buttons[item - 1].empty();
}

void PrintAlert(const OpaqueDialogPtr &a) {
    // Appended piece by piece: GCC 12 warns (falsely) about "literal" + string at -O3.
    std::string text = "[";
    text.append(KindName(a.kind)).append(" alert] ").append(a.message).append("\n");
    if (!a.explanation.empty()) text += "  " + a.explanation + "\n";
    text += "  Buttons:";
    for (size_t i = 0; i < a.buttons.size(); ++i) {
        if (a.buttons[i].empty()) continue;
        text += " [" + a.buttons[i] + "]";
        if (static_cast<int>(i + 1) == a.defaultItem) text += " (default, chosen)";
    }
    text += "\n";
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace

void PlatformSetAlertPresenter(AlertPresenter presenter) { gPresenter.store(presenter); }

extern "C" {

PLATFORM_API OSStatus GetStandardAlertDefaultParams(AlertStdCFStringAlertParamRec *param, UInt32 version) {
    if (!param || version != kStdCFStringAlertVersionOne) return paramErr;
    *param = AlertStdCFStringAlertParamRec{};
    param->version = version;
    param->movable = true;
    param->defaultButton = kAlertStdAlertOKButton;
    param->position = kWindowDefaultPosition;
    return noErr;
}

PLATFORM_API OSStatus CreateStandardAlert(AlertType kind, CFStringRef error, CFStringRef explanation,
                                          const AlertStdCFStringAlertParamRec *param, DialogRef *outAlert) {
    if (!outAlert) return paramErr;
    *outAlert = nullptr;
    try {
        auto *a = new OpaqueDialogPtr;
        a->kind = kind;
        a->message = CFStringText(error);
        a->explanation = CFStringText(explanation);
        AlertStdCFStringAlertParamRec p;
        if (param)
            p = *param;
        else
            GetStandardAlertDefaultParams(&p, kStdCFStringAlertVersionOne);
        const std::string ok = p.defaultText ? CFStringText(p.defaultText) : "OK";
        a->buttons.push_back(ok.empty() ? "OK" : ok);
        const std::string cancel = p.cancelText ? CFStringText(p.cancelText) : "";
        const std::string other = p.otherText ? CFStringText(p.otherText) : "";
        if (!cancel.empty() || !other.empty()) a->buttons.push_back(cancel);
        if (!other.empty()) a->buttons.push_back(other);
        a->defaultItem = ButtonExists(*a, p.defaultButton) ? p.defaultButton : SInt16(kAlertStdAlertOKButton);
        a->cancelItem = ButtonExists(*a, p.cancelButton) ? p.cancelButton : 0;
        *outAlert = a;
        return noErr;
    } catch (...) {
        return memFullErr;
    }
}

PLATFORM_API OSStatus RunStandardAlert(DialogRef alert, ModalFilterUPP, DialogItemIndex *outItemHit) {
    if (!alert) return paramErr;
    int item = 0;
    try {
        if (AlertPresenter presenter = gPresenter.load()) {
            item = presenter(alert->kind, alert->message, alert->explanation, alert->buttons, alert->defaultItem,
                             alert->cancelItem);
            if (!ButtonExists(*alert, item)) item = 0;
        }
        if (item < 1) {
            PrintAlert(*alert);
            item = alert->defaultItem;
        }
    } catch (...) {
        item = alert->defaultItem;
    }
    delete alert;
    if (outItemHit) *outItemHit = static_cast<DialogItemIndex>(item);
    return noErr;
}

}  // extern "C"
