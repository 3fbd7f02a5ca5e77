/*
 * Standard alerts as Qt message boxes, the colour picker on QColorDialog and
 * opening documents with the desktop's default application.
 */
#include "ToolboxObjects.h"

#include "Dialogs.h"
#include "LaunchServices.h"
#include "corefoundation/MacRoman.h"
#include "process/AlertPresenter.h"

#include <QApplication>
#include <QColorDialog>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QUrl>

#include <cstring>

namespace {

QWidget *DialogParent() {
    if (QWidget *modal = QApplication::activeModalWidget()) return modal;
    return QApplication::activeWindow();
}

QMessageBox::Icon IconOf(int kind) {
    switch (kind) {
        case kAlertStopAlert:
            return QMessageBox::Critical;
        case kAlertNoteAlert:
            return QMessageBox::Information;
        case kAlertCautionAlert:
            return QMessageBox::Warning;
        default:
            return QMessageBox::NoIcon;
    }
}

/* Shows a standard alert when there is a display; 0 lets the headless path
 * print it instead. */
int PresentAlert(int kind, const std::string &message, const std::string &explanation,
                 const std::vector<std::string> &buttons, int defaultItem, int cancelItem) {
    if (!ToolboxHasApplication()) return 0;
    return ToolboxGuard<int>(0, [&]() -> int {
        QMessageBox box(DialogParent());
        box.setIcon(IconOf(kind));
        box.setWindowTitle(QCoreApplication::applicationName());
        box.setTextFormat(Qt::PlainText);
        box.setText(QString::fromStdString(message));
        if (!explanation.empty()) box.setInformativeText(QString::fromStdString(explanation));
        std::vector<std::pair<QAbstractButton *, int>> items;
        for (size_t i = 0; i < buttons.size(); ++i) {
            if (buttons[i].empty()) continue;  // an absent cancel button before an "other" one
            int item = static_cast<int>(i) + 1;
            auto role = item == cancelItem    ? QMessageBox::RejectRole
                        : item == defaultItem ? QMessageBox::AcceptRole
                                              : QMessageBox::ActionRole;
            QPushButton *button = box.addButton(QString::fromStdString(buttons[i]), role);
            items.emplace_back(button, item);
            if (item == defaultItem) box.setDefaultButton(button);
            if (item == cancelItem) box.setEscapeButton(button);
        }
        if (items.empty()) {
            QPushButton *ok = box.addButton(QMessageBox::Ok);
            items.emplace_back(ok, 1);
            box.setDefaultButton(ok);
        }
        box.exec();
        QAbstractButton *clicked = box.clickedButton();
        for (auto &[button, item] : items)
            if (button == clicked) return item;
        // Closed without a button: what Escape would have chosen.
        return cancelItem > 0 ? cancelItem : defaultItem > 0 ? defaultItem : 1;
    });
}

[[maybe_unused]] const bool gPresenterInstalled = [] {
    PlatformSetAlertPresenter(PresentAlert);
    return true;
}();

uint16_t Channel(float v) { return static_cast<uint16_t>(std::clamp(v, 0.0f, 1.0f) * 65535.0f + 0.5f); }

}  // namespace

extern "C" {

PLATFORM_API OSErr NPickColor(NColorPickerInfo *info) {
    if (info == nullptr) return paramErr;
    info->newColorChosen = false;
    if (!ToolboxHasApplication()) return errNoWindowSystem;
    return ToolboxGuard<OSErr>(memFullErr, [&]() -> OSErr {
        const CMRGBColor &in = info->theColor.color.rgb;
        QColorDialog dialog(QColor::fromRgba64(in.red, in.green, in.blue), DialogParent());
        dialog.setOption(QColorDialog::DontUseNativeDialog);
        dialog.setWindowModality(Qt::ApplicationModal);
        size_t length = info->prompt[0];
        if (length > 0) {
            std::string_view bytes(reinterpret_cast<const char *>(info->prompt + 1), length);
            dialog.setWindowTitle(QString::fromStdString(macroman::ToUTF8(bytes)));
        }
        if (dialog.exec() != QDialog::Accepted) return noErr;  // cancelled: no colour chosen, not an error
        QColor chosen = dialog.selectedColor();
        if (!chosen.isValid()) return noErr;
        chosen = chosen.toRgb();
        info->theColor.color.rgb =
            CMRGBColor{Channel(chosen.redF()), Channel(chosen.greenF()), Channel(chosen.blueF())};
        info->newColorChosen = true;
        return noErr;
    });
}

PLATFORM_API OSStatus LSOpenFSRef(const FSRef *inRef, FSRef *outLaunchedRef) {
    if (outLaunchedRef) outLaunchedRef->path[0] = '\0';
    if (inRef == nullptr) return paramErr;
    size_t length = strnlen(inRef->path, sizeof inRef->path);
    if (length == 0 || length == sizeof inRef->path) return paramErr;
    return ToolboxGuard<OSStatus>(kLSUnknownErr, [&]() -> OSStatus {
        QString path = QString::fromUtf8(inRef->path, static_cast<qsizetype>(length));
        if (!QFileInfo::exists(path)) return fnfErr;
        bool started = false;
        if (ToolboxHasApplication()) started = QDesktopServices::openUrl(QUrl::fromLocalFile(path));
        // Platforms without desktop services (offscreen, minimal) and hosts
        // without a QApplication still have the desktop's opener.
        if (!started) started = QProcess::startDetached(QStringLiteral("xdg-open"), {path});
        return started ? noErr : kLSApplicationNotFoundErr;
    });
}

}  // extern "C"
