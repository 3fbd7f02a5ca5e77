#include "DialogHarness.h"
#include "TestEnv.h"
#include "TestHost.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <QDesktopServices>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include "host/iMovieGlue.h"
#include "storage/prefsloader.h"

// Every call of SaveConfig from the plug-in's code passes through here (the
// test is linked with --wrap for it), so saves can be counted exactly.
extern "C" Boolean __real__Z10SaveConfigP13pluginDataRec(pluginDataPtr theConfig);
extern "C" Boolean __wrap__Z10SaveConfigP13pluginDataRec(pluginDataPtr theConfig);

namespace harness {

namespace {

std::string gTemp;
std::string gBundle;
QApplication *gApp = nullptr;
std::string gOpened;
int gSaves = 0;

TestHost *gHost = nullptr;
ScopedPrefsFolder *gPrefs = nullptr;

// ---- Script ----
std::deque<Step> gSteps;
constexpr int kTickMs = 5;

void Tick() {
    if (gSteps.empty()) return;
    Step step = std::move(gSteps.front());
    gSteps.pop_front();
    // Scheduled first: a step may enter a nested loop, where the following
    // steps must go on running.
    QTimer::singleShot(kTickMs, Tick);
    if (!step()) gSteps.push_front(std::move(step));
}

}  // namespace

// Stands in for the desktop's document opener.
class OpenerLog : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
public slots:
    void open(const QUrl &url) { gOpened = url.toLocalFile().toStdString(); }
};

void Init(int &argc, char **argv) {
    gPrefs = new ScopedPrefsFolder;
    gTemp = gPrefs->Root().string();
    namespace fs = std::filesystem;
    if (getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);

    gApp = new QApplication(argc, argv);
    gHost = new TestHost(16, 8);
    // "Help" must not start a real viewer: documents opened go to a log.
    QDesktopServices::setUrlHandler(QStringLiteral("file"), new OpenerLog(gApp), "open");

    // A private copy of the built bundle, so a test can take its manual away.
    gBundle = gTemp + "/Plug-ins/Kelvarin.plugin";
    fs::create_directories(gTemp + "/Plug-ins");
    fs::copy(KELVARIN_PLUGINS_DIR "/Kelvarin.plugin", gBundle, fs::copy_options::recursive);
    CFURLRef url =
        CFURLCreateFromFileSystemRepresentation(kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(gBundle.c_str()),
                                                static_cast<CFIndex>(gBundle.size()), true);
    CFBundleRef bundle = CFBundleCreate(kCFAllocatorDefault, url);
    if (bundle == nullptr) {
        std::fprintf(stderr, "cannot register the bundle at %s\n", gBundle.c_str());
        std::exit(1);
    }
    CFRelease(url);
}

void Shutdown() {
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    delete gHost;
    gHost = nullptr;
    delete gApp;
    gApp = nullptr;
    delete gPrefs;  // removes the folder
    gPrefs = nullptr;
}

std::string TempDir() { return gTemp; }
std::string BundleDir() { return gBundle; }

std::string TakeOpenedDocument() { return std::exchange(gOpened, std::string()); }

int SavesSinceLastCall() {
    const int saves = gSaves;
    gSaves = 0;
    return saves;
}

TestHost &Host() { return *gHost; }

HYPluginParams &MakeParams(int32_t renderFrame) {
    // Like the editor: the button's own frame goes back to the host with
    // ReleaseFrame; the clip slider's frames are disposed by the plug-in.
    gHost->hostDisposes = 1;
    gHost->params.renderFrame = renderFrame;
    gHost->params.frameCount = 1;
    return gHost->params;
}

void EnsurePluginReady() {
    if (gPascalData != nullptr) return;
    MakeParams(0);
    gHost->Send(kPlugGetInfo);
}

void Then(Step step) { gSteps.push_back(std::move(step)); }

void Do(std::function<void()> action) {
    gSteps.push_back([action = std::move(action)] {
        action();
        return true;
    });
}

void Wait(std::function<bool()> condition) {
    auto tries = std::make_shared<int>(0);
    gSteps.push_back([condition = std::move(condition), tries]() {
        if (condition()) return true;
        if (++*tries > 2000) {
            ADD_FAILURE() << "a scripted wait timed out";
            return true;
        }
        return false;
    });
}

void RunScript(const std::function<void()> &body) {
    QTimer::singleShot(kTickMs, Tick);
    body();
    EXPECT_TRUE(gSteps.empty()) << gSteps.size() << " scripted steps did not run";
    gSteps.clear();
}

QWidget *TopWindow(const QString &objectName) {
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->objectName() == objectName) return w;
    return nullptr;
}

QWidget *Control(QWidget *window, const char *signature, int id) {
    if (window == nullptr) return nullptr;
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (w->property("controlSignature").toString() == QLatin1String(signature) &&
            w->property("controlID").toInt() == id)
            return w;
    }
    return nullptr;
}

void Press(QWidget *window, QPoint where, Qt::KeyboardModifiers modifiers) {
    QTest::mousePress(window->windowHandle(), Qt::LeftButton, modifiers, where);
}

void Release(QWidget *window, QPoint where) { QTest::mouseRelease(window->windowHandle(), Qt::LeftButton, {}, where); }

void ChooseItem(QWidget *combo, int index) {
    auto *box = qobject_cast<QComboBox *>(combo);
    ASSERT_NE(box, nullptr);
    // What the pop-up does when the user picks an item.
    box->setCurrentIndex(index);
    emit box->activated(index);
}

void Toggle(QWidget *checkBox) {
    auto *button = qobject_cast<QAbstractButton *>(checkBox);
    ASSERT_NE(button, nullptr);
    QTest::keyClick(button, Qt::Key_Space);
}

void Click(QWidget *button) { QTest::mouseClick(button, Qt::LeftButton); }

QString Text(QWidget *label) {
    auto *l = qobject_cast<QLabel *>(label);
    return l ? l->text() : QString();
}

void Screenshot(QWidget *window, const QString &name) {
    QDir().mkpath(QStringLiteral(KELVARIN_SCREENSHOT_DIR));
    const QString file = QStringLiteral(KELVARIN_SCREENSHOT_DIR "/") + name + QStringLiteral(".png");
    EXPECT_TRUE(window->grab().save(file)) << file.toStdString();
}

void DocumentationPicture(QWidget *window, const QString &name) {
    if (qEnvironmentVariableIsEmpty("KELVARIN_UPDATE_DOC_IMAGES")) return Screenshot(window, name);
    const QString file = QStringLiteral(KELVARIN_DOC_IMAGES_DIR "/") + name + QStringLiteral(".png");
    EXPECT_TRUE(window->grab().save(file)) << file.toStdString();
}

}  // namespace harness

extern "C" Boolean __wrap__Z10SaveConfigP13pluginDataRec(pluginDataPtr theConfig) {
    ++harness::gSaves;
    return __real__Z10SaveConfigP13pluginDataRec(theConfig);
}

#include "DialogHarness.moc"
