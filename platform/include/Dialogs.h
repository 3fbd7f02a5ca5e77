/*
 * Standard alerts. With a QApplication they are Qt message boxes; without
 * one (no display) they print their texts to standard error and answer the
 * default button.
 */
#ifndef PLATFORM_DIALOGS_H
#define PLATFORM_DIALOGS_H

#include "MacTypes.h"
#include "CoreFoundation.h"

PLATFORM_EXTERN_C_BEGIN

typedef struct OpaqueDialogPtr *DialogRef;
typedef DialogRef DialogPtr;
typedef int16_t AlertType;
typedef int16_t DialogItemIndex;
typedef void *ModalFilterUPP;

enum { kAlertStopAlert = 0, kAlertNoteAlert = 1, kAlertCautionAlert = 2, kAlertPlainAlert = 3 };
enum {
    kAlertStdAlertOKButton = 1,
    kAlertStdAlertCancelButton = 2,
    kAlertStdAlertOtherButton = 3,
    kAlertStdAlertHelpButton = 4
};
enum { kStdCFStringAlertVersionOne = 1, kWindowDefaultPosition = 0 };

typedef struct AlertStdCFStringAlertParamRec {
    UInt32 version;
    Boolean movable;
    Boolean helpButton;
    CFStringRef defaultText; /* NULL: the platform's "OK" */
    CFStringRef cancelText;  /* NULL: no cancel button */
    CFStringRef otherText;   /* NULL: no third button */
    SInt16 defaultButton;
    SInt16 cancelButton;
    UInt16 position;
    UInt32 flags;
} AlertStdCFStringAlertParamRec;

PLATFORM_API OSStatus GetStandardAlertDefaultParams(AlertStdCFStringAlertParamRec *param, UInt32 version);
/* param NULL: default parameters (one button with the platform's text). */
PLATFORM_API OSStatus CreateStandardAlert(AlertType kind, CFStringRef error, CFStringRef explanation,
                                          const AlertStdCFStringAlertParamRec *param, DialogRef *outAlert);
/* Runs the alert modally, reports the item pressed and disposes of it. */
PLATFORM_API OSStatus RunStandardAlert(DialogRef alert, ModalFilterUPP filter, DialogItemIndex *outItemHit);

PLATFORM_EXTERN_C_END

#endif
