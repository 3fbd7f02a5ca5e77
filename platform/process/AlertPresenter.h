// Hook through which a GUI layer shows standard alerts.
//
// The process module prints alerts to standard error when nothing else can
// show them. A toolkit layer (the Qt toolbox) installs a presenter at start-up;
// RunStandardAlert then asks it first and falls back to the headless path when
// no presenter is set or the presenter declines (returns < 1).
#ifndef PLATFORM_PROCESS_ALERTPRESENTER_H
#define PLATFORM_PROCESS_ALERTPRESENTER_H

#include "MacTypes.h"

#include <string>
#include <vector>

// kind: kAlertStopAlert .. kAlertPlainAlert (Dialogs.h).
// message/explanation: UTF-8 texts (explanation may be empty).
// buttons: UTF-8 titles; buttons[i] reports item i + 1 (kAlertStdAlertOKButton,
// ...CancelButton, ...OtherButton): the default button first, then cancel, then
// other. Trailing absent buttons are left out; an absent cancel button before
// an "other" button is an empty title.
// defaultItem/cancelItem: the items that Return and Escape choose (cancelItem
// is 0 when there is no cancel button).
// Returns the item number pressed, or < 1 to decline (e.g. no display).
using AlertPresenter = int (*)(int kind, const std::string &message, const std::string &explanation,
                               const std::vector<std::string> &buttons /* default first, then cancel, then other */,
                               int defaultItem, int cancelItem);

// Installs (or, with nullptr, removes) the presenter. Not thread-safe; call
// from the main thread before alerts can appear.
PLATFORM_API void PlatformSetAlertPresenter(AlertPresenter presenter);

#endif
