// A harness for the settings dialog: the recording test host handing out
// frames of a generated clip, the plug-in bundle registered from a
// private copy, a private preferences folder, and a script of steps run from
// inside the dialog's modal (and nested) event loops.
#pragma once

#include <QPoint>
#include <QString>
#include <QWidget>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "Carbon.h"
#include "HYPlugin.h"

class TestHost;

namespace harness {

// Sets up the process: preferences and PATH in a temporary folder, the
// QApplication, the bundle registered from a copy. Call once from main.
void Init(int &argc, char **argv);
// Ends the application and removes the temporary folder.
void Shutdown();
// The temporary folder (preferences live here).
std::string TempDir();
// The registered bundle copy (…/Kelvarin.plugin).
std::string BundleDir();
// What the fake document opener was asked to open, cleared by the call.
std::string TakeOpenedDocument();
// Calls of SaveConfig since the last call.
int SavesSinceLastCall();

// The recording test host lending the clip's frames (TestHost.h).
TestHost &Host();
// The host's parameter block, set for the button message at renderFrame.
HYPluginParams &MakeParams(int32_t renderFrame);
// Sends the first message so the shared record exists.
void EnsurePluginReady();

// ---- Scripted steps ----
// A step returns true when done; a step that returns false is retried later
// (for waiting on a window). Steps that may enter a nested loop must return
// true (the next steps run inside that loop).
using Step = std::function<bool()>;
void Then(Step step);
// A step that is done once it has run.
void Do(std::function<void()> action);
void Wait(std::function<bool()> condition);
// Runs the queued steps while `body` runs (body usually opens the dialog).
// Fails the test if steps are left over.
void RunScript(const std::function<void()> &body);

// ---- Widgets ----
QWidget *TopWindow(const QString &objectName);  // visible top-level window or null
QWidget *Control(QWidget *window, const char *signature, int id);
// Mouse on the window's native handle, positions in window coordinates.
void Press(QWidget *window, QPoint where, Qt::KeyboardModifiers modifiers = {});
void Release(QWidget *window, QPoint where);
void ChooseItem(QWidget *combo, int index);  // as the user: keys on the pop-up
void Toggle(QWidget *checkBox);              // as the user: space bar
void Click(QWidget *button);
QString Text(QWidget *label);
void Screenshot(QWidget *window, const QString &name);
// A picture for the README: written into docs/images of the source tree when
// KELVARIN_UPDATE_DOC_IMAGES is set, else beside the screenshots.
void DocumentationPicture(QWidget *window, const QString &name);

}  // namespace harness
