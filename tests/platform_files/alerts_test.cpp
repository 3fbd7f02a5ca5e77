// Standard alerts (presenter hook and the headless path) and ExitToShell.
#include "process/AlertPresenter.h"

#include "Dialogs.h"
#include "Processes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

struct Seen {
    int kind = -1;
    std::string message, explanation;
    std::vector<std::string> buttons;
    int defaultItem = 0, cancelItem = 0;
    int answer = 0;
} gSeen;

int Presenter(int kind, const std::string &message, const std::string &explanation,
              const std::vector<std::string> &buttons, int defaultItem, int cancelItem) {
    gSeen = {kind, message, explanation, buttons, defaultItem, cancelItem, gSeen.answer};
    return gSeen.answer;
}

DialogItemIndex RunAlert(AlertType kind, CFStringRef msg, CFStringRef expl,
                         const AlertStdCFStringAlertParamRec *param) {
    DialogRef alert = nullptr;
    EXPECT_EQ(CreateStandardAlert(kind, msg, expl, param, &alert), noErr);
    DialogItemIndex hit = -1;
    EXPECT_EQ(RunStandardAlert(alert, nullptr, &hit), noErr);
    return hit;
}

TEST(Alerts, PresenterFirstThenStandardErrorWithTheDefaultButton) {
    AlertStdCFStringAlertParamRec p;
    ASSERT_EQ(GetStandardAlertDefaultParams(&p, kStdCFStringAlertVersionOne), noErr);
    p.defaultText = CFSTR("ok");
    p.cancelText = CFSTR("Cancel");
    p.cancelButton = kAlertStdAlertCancelButton;

    PlatformSetAlertPresenter(Presenter);
    gSeen.answer = 2;
    EXPECT_EQ(RunAlert(kAlertCautionAlert, CFSTR("Headline"), CFSTR("Details"), &p), 2);
    EXPECT_EQ(std::tuple(gSeen.kind, gSeen.message, gSeen.explanation, gSeen.defaultItem, gSeen.cancelItem),
              std::tuple(int(kAlertCautionAlert), std::string("Headline"), std::string("Details"), 1, 2));
    EXPECT_EQ(gSeen.buttons, (std::vector<std::string>{"ok", "Cancel"}));

    // A presenter that declines (or names a button that does not exist)
    // leaves the alert to the headless path.
    for (int answer : {0, 7}) {
        gSeen.answer = answer;
        testing::internal::CaptureStderr();
        EXPECT_EQ(RunAlert(kAlertStopAlert, CFSTR("Assertion Failure"), CFSTR("Assertion failed in: here"), nullptr),
                  1);
        const std::string err = testing::internal::GetCapturedStderr();
        for (const char *part : {"Stop", "Assertion Failure", "Assertion failed in: here", "OK"})
            EXPECT_NE(err.find(part), std::string::npos) << part << " in " << err;
    }
    EXPECT_EQ(gSeen.buttons, (std::vector<std::string>{"OK"}));  // default parameters: one button

    PlatformSetAlertPresenter(nullptr);
    testing::internal::CaptureStderr();
    p.cancelText = nullptr;  // no cancel button: the alert has one button
    EXPECT_EQ(RunAlert(kAlertCautionAlert, CFSTR("Internal Notification:"), CFSTR("something"), &p), 1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(err.find("[ok]") != std::string::npos && err.find("Cancel") == std::string::npos) << err;
}

TEST(ProcessDeathTest, ExitToShellRunsExitHandlersAndReportsFailure) {
    EXPECT_EXIT(
        {
            std::atexit([] { std::fputs("cleanup ran\n", stderr); });
            std::fputs("buffered", stdout);
            ExitToShell();
        },
        testing::ExitedWithCode(1), "cleanup ran");
}

}  // namespace
