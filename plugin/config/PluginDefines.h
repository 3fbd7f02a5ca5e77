// Definitions the effect side shares: the settings dialog's workspace, the
// configuration the dialog edits, and the build constants.
#pragma once
#include "Carbon.h"
#include "HYPlugin.h"
#include "config/pascalFX.h"

// The dialog's workspace; meaningful while ConfigurePlugIn runs. Six-element
// arrays hold items 1..6 (element i - 1 is item i).
struct pluginWorkSpace {
    pluginDataPtr theConfig;       // the record being edited (the shared one)
    HYPluginParams *iMovieParams;  // block of the button message, to fetch frames
    GWorldPtr sourceClip;          // frame shown in the dialog (owned by the caller)
    GWorldPtr theFXClip;           // rendered preview of sourceClip
    SInt32 currFrameIndex;         // clip slider position
    SInt32 minFrameIndex;          // added to the slider position to fetch a frame
    SInt32 maxFrameIndex;          // last slider position
    SInt16 activeRel;              // 1 = startRel, the only rectangle edited
    ControlRef theFrameCtrl;       // preview control
    ControlRef sliders[6];
    ControlRef clipSlider;
    ControlRef colors[6];
    WindowRef theWindow;
};

extern pluginWorkSpace gConfigWorkSpace;
extern pluginDataPtr gTheConfig;  // the record handed to the last ConfigurePlugIn

// Empties the workspace and forgets the configured record, as at load time.
void ResetConfigWorkSpace();

// ---- Build constants ----
inline constexpr const char cMyPluginName[] = "kelvarin";
inline constexpr const char cMyClearName[] = "Kelvarin";
inline constexpr const char cMyBundleID[] = "com.qmz.varnolex.kelvarin";
inline constexpr const char cProductCode[] = "qzvel";
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
inline constexpr const char cPlugVersion[] = "3.0.0 (PPC Universal)";
#else
inline constexpr const char cPlugVersion[] = "3.0.0 (i386 Universal)";
#endif
inline constexpr SInt32 cPlugVersionNum = 196608;  // 3.0.0 as 3 << 16

inline constexpr int cUsesColor1 = 1;
inline constexpr int cUsesColor2 = 0;
inline constexpr int cUsesColor3 = 0;
inline constexpr int cUsesColor4 = 0;
inline constexpr int cUsesColor5 = 0;
inline constexpr int cUsesColor6 = 0;
inline constexpr int cUsesSlider1 = 0;
inline constexpr int cUsesSlider2 = 0;
inline constexpr int cUsesSlider3 = 0;
inline constexpr int cUsesSlider4 = 0;
inline constexpr int cUsesSlider5 = 0;
inline constexpr int cUsesSlider6 = 0;
// The same flags indexed by item - 1, for loops over the six boxes/sliders.
inline constexpr int cUsesColor[6] = {cUsesColor1, cUsesColor2, cUsesColor3, cUsesColor4, cUsesColor5, cUsesColor6};
inline constexpr int cUsesSlider[6] = {cUsesSlider1, cUsesSlider2, cUsesSlider3,
                                       cUsesSlider4, cUsesSlider5, cUsesSlider6};

inline constexpr int cUsedNumberOfRects = 1;
inline constexpr int cHandleSize = 6;  // corner handle size in pixels
inline constexpr SInt16 cUseDisposeGWInSlider = 1;
