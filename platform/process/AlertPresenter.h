// Hook through which a GUI layer shows standard alerts.
//
// The process module prints alerts to standard error when nothing else can
// show them. A toolkit layer (the Qt toolbox) installs a presenter at start-up;
// RunStandardAlert then asks it first and falls back to the headless path when
// no presenter is set or the presenter declines (returns < 1).
#ifndef PLATFORM_PROCESS_ALERTPRESENTER_H
#define PLATFORM_PROCESS_ALERTPRESENTER_H

#include <string>
#include <vector>

// kind: kAlertStopAlert .. kAlertPlainAlert (Dialogs.h).
// message/explanation: UTF-8 texts (explanation may be empty).
// buttons: UTF-8 titles, default first, then cancel, then other (only those
// that exist). defaultItem/cancelItem: the item numbers (1-based, as in
// kAlertStdAlertOKButton...) the default and cancel buttons report; cancelItem
// is 0 when there is no cancel button.
// Returns the item number pressed, or < 1 to decline (e.g. no display).
using AlertPresenter = int (*)(int kind, const std::string &message, const std::string &explanation,
                               const std::vector<std::string> &buttons /* default first, then cancel, then other */,
                               int defaultItem, int cancelItem);

// Installs (or, with nullptr, removes) the presenter. Not thread-safe; call
// from the main thread before alerts can appear.
void PlatformSetAlertPresenter(AlertPresenter presenter);

#endif
